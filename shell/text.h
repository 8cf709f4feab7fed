// Text helpers of the shell: UTF-16 strings, numbers, and reading text files
// and file handles line by line.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The buffer sizes of the shell's contract with modules.
#include "plugin/protocol.h"

namespace ivsh {

// Whitespace as iswspace defines it.
bool IsBlank(wchar_t c);
// Characters of variable and function names: letters, digits, "_" and "$".
bool IsNameChar(wchar_t c);

std::wstring_view SkipBlanks(std::wstring_view text);
std::wstring_view TrimView(std::wstring_view text);
std::wstring Trim(std::wstring_view text);
// Trims `text` and removes every double quote from it (file names).
std::wstring Unquote(std::wstring_view text);
// Lower case as Windows defines it (CharLowerBuffW).
std::wstring Lower(std::wstring_view text);
// Case-insensitive equality (ordinal, as Windows compares file names).
bool IEquals(std::wstring_view a, std::wstring_view b);
// Position of the last comma outside double quotes, or npos.
size_t FindLastComma(std::wstring_view text);

// The whole of `text` is a decimal number with an optional sign that fits in
// 64 bits. No blanks are allowed.
bool ParseInteger(std::wstring_view text, int64_t& value);
// The whole of `text` is an unsigned decimal number, or hexadecimal after
// "0x", that fits in 64 bits. No sign, no blanks.
bool ParseUnsigned(std::wstring_view text, uint64_t& value);

// Windows' text for a Win32 error code, without its line end.
std::wstring SystemMessage(DWORD error);
// Full path of `name` (GetFullPathNameW), or `name` itself if it does not resolve.
std::wstring FullPath(const std::wstring& name);
// Full path of a loaded module's file (nullptr: the program).
std::wstring ModuleFileName(HMODULE module);

// Text files are UTF-16LE when they start with FF FE, UTF-8 otherwise (an
// EF BB BF mark is skipped). A line of UTF-8 text that is not valid UTF-8 is
// read in the ANSI code page instead.
enum class TextEncoding { Utf8, Utf16 };

// The encoding that the first bytes of a file announce, and the length of the
// byte-order mark to skip.
TextEncoding DetectEncoding(const char* data, size_t size, size_t* markLength);
// Decodes one line's bytes (no line end) from `encoding`.
std::wstring DecodeLine(const char* data, size_t size, TextEncoding encoding);
std::string EncodeUtf8(std::wstring_view text);

// Reads a whole text file into lines without their line ends (LF or CR LF).
// Returns 0, or the Win32 error that stopped it.
DWORD ReadTextLines(const std::wstring& path, std::vector<std::wstring>& lines);

enum class ReadStatus { Line, End, Error };
// Reads the next line from `handle` and leaves the handle's position just
// after that line's end, so that other users of the handle see the rest.
// Error: a read failed (GetLastError tells why) or the line is absurdly long
// (ERROR_INSUFFICIENT_BUFFER).
ReadStatus ReadHandleLine(HANDLE handle, TextEncoding encoding, std::wstring& line);

} // namespace ivsh
