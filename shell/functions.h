// The shell's own internal variables and variable functions.
#pragma once

#include <string>
#include <string_view>

namespace ivsh {

// Value of the shell's internal variable `name` ("_batch", ...; any case).
// False when the shell has no such variable.
bool ShellVariable(std::wstring_view name, std::wstring& value);

// Result of calling the shell's variable function `name` (without "@", any
// case) on `args`. `found` tells whether the shell has that function. Returns
// 0 with the result, or non-zero after a message.
int CallShellFunction(std::wstring_view name, std::wstring_view args, std::wstring& result, bool& found);

// Names of the shell's functions and internal variables, for `help`.
std::wstring ShellFunctionNames();

} // namespace ivsh
