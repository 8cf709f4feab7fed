// The shell's output path: the formatter behind Printf and Qprintf, and the
// writer that every piece of output goes through.
#pragma once

#include <windows.h>

#include <cstdarg>
#include <string>
#include <string_view>

namespace ivsh {

// Formats like a wide printf, with its own reading of the conversions (the C
// runtime's wide printf may take %s for a narrow string):
//   %s  UTF-16 string (null: "(null)")   %d  signed 32-bit   %u  unsigned 32-bit
//   %x  %X  hexadecimal                  %c  one UTF-16 unit %%  a percent sign
// An optional "-" or "0" flag, a width and an "l" may stand before the
// conversion letter. Any other conversion is copied literally and consumes no
// argument.
std::wstring FormatV(const wchar_t* format, va_list args);

// Writes `text` to `handle`: a console receives it as UTF-16 (WriteConsoleW);
// anything else receives bytes in the output encoding that the options choose:
// UTF-16LE (unicodeoutput), UTF-8 (utf8output) or the option codepage.
// Returns the number of UTF-16 units written, or -1.
int WriteText(HANDLE handle, std::wstring_view text);

inline int WriteOut(std::wstring_view text)
{
    return WriteText(GetStdHandle(STD_OUTPUT_HANDLE), text);
}

} // namespace ivsh
