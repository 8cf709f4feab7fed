// The expander behind ExpandVariables and every command line.
#pragma once

#include <string>
#include <string_view>

namespace ivsh {

// Expands `text` into `out`, left to right:
//   ESC x        x, copied uninterpreted (ESC = option escapechar; an ESC at
//                the very end stays)
//   %%           %
//   %[name]      the variable name: internal when it begins with "_", else
//                from the environment
//   %@name[args] the variable function name, its arguments expanded first;
//                its result is inserted as it is and never scanned again
//   %_name       the internal variable (longest name)
//   %name% %name the environment variable (the closing % is optional)
//   %0 .. %9 %*  the arguments of the batch file being run
//   %?           the result of the last command
// Undefined variables give nothing; a % that starts none of these stays. The
// setting's kinds 3 (no %-expansion at all), 2 (function arguments taken as
// written) and 8 (no escape character) are honoured.
// Returns 0; or, after a message (a failing module function has written its
// own), the non-zero code of what failed, and `out` holds nothing useful. The
// result never exceeds PLUGIN_TEXT_LEN units: a longer one fails.
int ExpandText(std::wstring_view text, std::wstring& out);

// Where the function call that begins at text[start] ("%@name[") ends: the
// position after its matching "]", counting nested brackets and skipping
// escaped units. npos when the brackets do not balance, 0 when text[start]
// does not begin a function call. `nameEnd` receives the position of "[".
size_t FunctionCallEnd(std::wstring_view text, size_t start, size_t* nameEnd = nullptr);

} // namespace ivsh
