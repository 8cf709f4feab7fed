// Writing: @expwrite.
#include <cstring>
#include <cwchar>

#include "escape/chars.h"
#include "escape/expand.h"
#include "functions/arguments.h"
#include "plugin/exports.h"
#include "plugin/host.h"
#include "plugin/module.h"

namespace {

constexpr UINT kUtf16 = 0; // the shell writes UTF-16LE
constexpr UINT kUtf8 = 65001;

// Room for the longest line (MAX_TEXT_LEN units and a NUL) at four bytes a
// unit.
constexpr int kConversionBytes = 4 * MAX_ARG_LEN;

// The encoding the shell writes its output in: 0 for UTF-16LE, 65001 for
// UTF-8, or a Windows code page.
UINT GetOutputCodePage()
{
    if (QueryUnicodeOutput() != 0)
        return kUtf16;
    wchar_t option[1024];
    ExpandShellText(L"%@option[utf8output]", option, 1024);
    if (towupper(option[0]) == L'Y')
        return kUtf8;
    ExpandShellText(L"%_codepage", option, 1024);
    if (IsDecimalDigit(option[0])) {
        // The leading decimal number; whatever follows it does not count.
        unsigned long page = wcstoul(option, nullptr, 10);
        if (page != 0)
            return UINT(page);
    }
    return GetOEMCP();
}

// Writes `size` bytes with one call. A write that puts fewer bytes in the file
// than asked (a full disk takes what fits and reports success) failed as
// surely as one the platform refuses: the line is not in the file whole.
bool WriteWhole(HANDLE handle, const void* bytes, DWORD size)
{
    DWORD done = 0;
    return WriteFile(handle, bytes, size, &done, nullptr) != 0 && done == size;
}

// Writes the byte-order mark of UTF-16LE or UTF-8 when `handle` is an empty
// file. False only when writing the mark failed.
bool WriteByteOrderMark(UINT codePage, HANDLE handle)
{
    if (codePage != kUtf16 && codePage != kUtf8)
        return true;
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handle, &info) || info.nFileSizeHigh != 0 || info.nFileSizeLow != 0)
        return true;
    static const char kUtf8Mark[] = "\xEF\xBB\xBF";
    static const char kUtf16Mark[] = "\xFF\xFE";
    const char* mark = codePage == kUtf8 ? kUtf8Mark : kUtf16Mark;
    return WriteWhole(handle, mark, DWORD(strlen(mark)));
}

} // namespace

extern "C" {

// @expwrite[handle,text]: writes text, expanded, and CR LF to an open file
// handle ("-" for standard output) in the shell's output encoding. Returns
// the number of units (UTF-16) or bytes written, or -1 when writing failed
// or put only part of the mark or the line in the file.
int WINAPI f_expwrite(LPWSTR buffer)
{
    if (buffer == nullptr)
        return 1;
    wchar_t line[MAX_ARG_LEN] = {};

    WriteArguments args;
    switch (ReadWriteArguments(buffer, &args)) {
    case WRITE_MISSING_HANDLE: return ReportError(L"Missing handle");
    case WRITE_BAD_HANDLE: return ReportBadArgument(L"Bad handle", args.argument, UpperCase);
    case WRITE_ZERO_HANDLE: return ReportError(L"Bad handle", L"0");
    case WRITE_EXPECTED_COMMA: return ReportBadArgument(L"Expected a comma", args.argument, UpperCase);
    case WRITE_OK: break;
    }
    HANDLE handle = args.standardOutput ? GetStdHandle(STD_OUTPUT_HANDLE) : reinterpret_cast<HANDLE>(args.handle);

    // Everything after the separator is the text, commas and all.
    wcscpy(line, args.text);
    if (ExpandEscapes(line, nullptr) == RESULT_OVERFLOW || wcslen(line) >= MAX_ARG_LEN - 2)
        return ReportError(L"Buffer overflow");
    wcscat(line, L"\r\n");
    DWORD length = DWORD(wcslen(line));

    const UINT codePage = GetOutputCodePage();
    bool written = WriteByteOrderMark(codePage, handle);
    if (written && codePage == kUtf16) {
        written = WriteWhole(handle, line, length * sizeof(wchar_t));
    } else if (written) {
        char converted[kConversionBytes] = {};
        // A conversion that fails, for a code page the platform does not
        // know or an output that would not fit, leaves nothing to write.
        if (WideCharToMultiByte(codePage, 0, line, -1, converted, kConversionBytes, nullptr, nullptr) == 0)
            converted[0] = 0;
        length = DWORD(strnlen(converted, kConversionBytes));
        written = WriteWhole(handle, converted, length);
    }
    if (written)
        wsprintfW(buffer, L"%u", unsigned(length));
    else
        wcscpy(buffer, L"-1");
    return 0;
}

} // extern "C"
