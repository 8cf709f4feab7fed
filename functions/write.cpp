// Writing: @expwrite.
#include <cstring>
#include <cwchar>

#include "escape/chars.h"
#include "escape/expand.h"
#include "escape/scratch.h"
#include "functions/argument_readers.h"
#include "plugin/exports.h"
#include "plugin/host.h"
#include "plugin/module.h"
#include "plugin/os.h"

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

// The handle @expwrite writes to, as it was before the call: what kind of
// handle it is and, for a disk file, what a failed call needs to put it
// back.
struct Target {
    HANDLE handle;
    // A console, as Windows' console calls know it: its count is not
    // of bytes (a console in code page 65001 counted characters before
    // Windows 8), so a successful write there counts as the whole line. Any
    // other handle must take every byte, the null device and other character
    // devices included.
    bool console;
    // Windows reports the file's size as 0: the mark goes first.
    bool empty;
    // A disk file whose size and position are known: a failed call can put
    // it back.
    bool rewindable;
    LARGE_INTEGER position;
    LARGE_INTEGER size;
};

// The bytes of a disk file that the line is to overwrite (those from the
// position up to the file's end, at most as many as the line has), read
// before the line is written, to be put back should it fail. They take room
// (from the scratch allocator, freed by the caller) only where the line
// lands inside the file.
struct Overwritten {
    DWORD count;
    char* bytes;
};

LARGE_INTEGER FileSize(const BY_HANDLE_FILE_INFORMATION& info)
{
    LARGE_INTEGER size;
    size.LowPart = info.nFileSizeLow;
    size.HighPart = LONG(info.nFileSizeHigh);
    return size;
}

// Notes what `handle` is and, for a disk file, its size and position, before
// anything is written to it. What Windows cannot tell is left false:
// no mark, nothing to take back.
Target NoteTarget(HANDLE handle)
{
    Target target = {};
    target.handle = handle;
    const DWORD type = OsGetFileType(handle);
    DWORD mode;
    target.console = type == FILE_TYPE_CHAR && OsGetConsoleMode(handle, &mode);
    BY_HANDLE_FILE_INFORMATION info;
    if (OsGetFileInformationByHandle(handle, &info)) {
        target.size = FileSize(info);
        target.empty = target.size.QuadPart == 0;
        // Only a disk file has a position: on a pipe the call is undefined.
        const LARGE_INTEGER here = {};
        target.rewindable = type == FILE_TYPE_DISK && OsSetFilePointerEx(handle, here, &target.position, FILE_CURRENT);
    }
    return target;
}

// Before a line of `size` bytes is written inside a disk file: reads the
// bytes it will overwrite into *saved and moves back to the position,
// whatever the read did (a read that fails may have moved it). A handle that
// cannot read saves nothing (and a failed line then leaves what it overwrote
// changed). False when there is no room for the bytes or the position could
// not be put back after the read: nothing may be written then.
bool SaveOverwritten(const Target& target, DWORD size, Overwritten* saved)
{
    saved->count = 0;
    saved->bytes = nullptr;
    if (!target.rewindable || target.position.QuadPart >= target.size.QuadPart)
        return true;
    const LONGLONG inside = target.size.QuadPart - target.position.QuadPart;
    const DWORD wanted = inside < LONGLONG(size) ? DWORD(inside) : size;
    saved->bytes = static_cast<char*>(ScratchAlloc(wanted));
    if (saved->bytes == nullptr)
        return false;
    if (!OsReadFile(target.handle, saved->bytes, wanted, &saved->count, nullptr))
        saved->count = 0;
    return OsSetFilePointerEx(target.handle, target.position, nullptr, FILE_BEGIN) != 0;
}

// Writes `size` bytes with one call. A write that puts fewer bytes in than
// asked (a full disk takes what fits and reports success) failed as surely
// as one Windows refuses: the line is not there whole. Only a console
// counts characters instead.
bool WriteWhole(const Target& target, const void* bytes, DWORD size)
{
    DWORD done = 0;
    return OsWriteFile(target.handle, bytes, size, &done, nullptr) != 0 && (done == size || target.console);
}

// Writes back the first `count` saved bytes at the position where the file
// holds others there now (`scratch`, of as many bytes, reads them): a
// handle that only appends wrote at the end and overwrote nothing. Where
// they cannot be read, nothing is written: on a handle that appends, the
// bytes would go to the end of the file.
void PutBack(const Target& target, const Overwritten& saved, DWORD count, char* scratch)
{
    DWORD got = 0;
    if (!OsSetFilePointerEx(target.handle, target.position, nullptr, FILE_BEGIN) ||
        !OsReadFile(target.handle, scratch, count, &got, nullptr) || got != count ||
        std::memcmp(scratch, saved.bytes, count) == 0)
        return;
    if (OsSetFilePointerEx(target.handle, target.position, nullptr, FILE_BEGIN))
        WriteWhole(target, saved.bytes, count);
}

// Puts a disk file back as it was before the call, after a mark or line that
// did not go in whole. Where this call's writing ended (the position now)
// and the file's size tell what it changed: what it added past the old end
// is cut off, and the bytes it overwrote inside the file are written back
// (`scratch`: kConversionBytes bytes the call no longer needs). A handle
// that only appends wrote at the old end whatever its position, and its
// writing may end at or before that position: what it added is cut off all
// the same. When the size is not the one this call left, another handle
// changed the file in between, and the file is left alone: cutting would
// take that handle's bytes too. In every case the position goes back to
// where it was. Nothing can be taken back from a pipe or a console.
void TakeBack(const Target& target, const Overwritten& saved, char* scratch)
{
    if (!target.rewindable)
        return;
    const HANDLE handle = target.handle;
    const LARGE_INTEGER here = {};
    LARGE_INTEGER end;
    BY_HANDLE_FILE_INFORMATION info;
    if (OsSetFilePointerEx(handle, here, &end, FILE_CURRENT) && OsGetFileInformationByHandle(handle, &info)) {
        const LONGLONG left = end.QuadPart > target.size.QuadPart ? end.QuadPart : target.size.QuadPart;
        if (FileSize(info).QuadPart == left) {
            if (left > target.size.QuadPart && OsSetFilePointerEx(handle, target.size, nullptr, FILE_BEGIN))
                OsSetEndOfFile(handle);
            // None where the writing ended at or before the position.
            const LONGLONG overwritten = end.QuadPart - target.position.QuadPart;
            if (overwritten > 0 && saved.count > 0)
                PutBack(target, saved, overwritten < LONGLONG(saved.count) ? DWORD(overwritten) : saved.count,
                        scratch);
        }
    }
    OsSetFilePointerEx(handle, target.position, nullptr, FILE_BEGIN);
}

// Writes the byte-order mark of UTF-16LE or UTF-8 when the target is an
// empty file. False only when writing the mark failed.
bool WriteByteOrderMark(UINT codePage, const Target& target)
{
    if ((codePage != kUtf16 && codePage != kUtf8) || !target.empty)
        return true;
    static const char kUtf8Mark[] = "\xEF\xBB\xBF";
    static const char kUtf16Mark[] = "\xFF\xFE";
    const char* mark = codePage == kUtf8 ? kUtf8Mark : kUtf16Mark;
    return WriteWhole(target, mark, DWORD(strlen(mark)));
}

// Writes `line` (`units` units, its CR LF included) to `handle` in code page
// `codePage` and puts the result in `buffer`: the count, or -1 after putting
// a disk file back. A function of its own, so that its conversion buffer is
// not on the stack while @expwrite reads its arguments or reports an error.
__attribute__((noinline)) void WriteLine(HANDLE handle, const wchar_t* line, DWORD units, UINT codePage,
                                         LPWSTR buffer)
{
    // The line in the output encoding: `bytes` of it go to the handle, and the
    // result counts UTF-16 units or those bytes.
    const void* text = line;
    DWORD bytes = units * sizeof(wchar_t);
    DWORD count = units;
    char converted[kConversionBytes];
    if (codePage != kUtf16) {
        // A line holds CR LF at least, so a conversion that gives nothing (a
        // code page Windows does not know) has lost it: nothing is
        // written, and that is a failed write.
        if (OsWideCharToMultiByte(codePage, 0, line, -1, converted, kConversionBytes, nullptr, nullptr) == 0) {
            wcscpy(buffer, L"-1");
            return;
        }
        text = converted;
        bytes = count = DWORD(strnlen(converted, kConversionBytes));
    }

    const Target target = NoteTarget(handle);
    Overwritten saved;
    if (SaveOverwritten(target, bytes, &saved) && WriteByteOrderMark(codePage, target) &&
        WriteWhole(target, text, bytes)) {
        wsprintfW(buffer, L"%u", unsigned(count));
    } else {
        TakeBack(target, saved, converted);
        wcscpy(buffer, L"-1");
    }
    ScratchFree(saved.bytes);
}

} // namespace

extern "C" {

// @expwrite[handle,text]: writes text, expanded, and CR LF to an open file
// handle ("-" for standard output) in the shell's output encoding. Returns
// the number of units (UTF-16) or bytes written, or -1 when the line could
// not be written whole: the conversion gave nothing, or writing failed or
// put only part of the mark or the line in. A disk file is then left as it
// was before the call (see TakeBack).
int WINAPI f_expwrite(LPWSTR buffer)
{
    if (buffer == nullptr)
        return 1;
    wchar_t line[MAX_ARG_LEN] = {};

    WriteArguments args;
    switch (ReadExpwriteArguments(buffer, &args)) {
    case WRITE_MISSING_HANDLE: return ReportError(L"Missing handle");
    case WRITE_BAD_HANDLE: return ReportBadArgument(L"Bad handle", args.argument, UpperCase);
    case WRITE_ZERO_HANDLE: return ReportError(L"Bad handle", L"0");
    case WRITE_EXPECTED_COMMA: return ReportBadArgument(L"Expected a comma", args.argument, UpperCase);
    case WRITE_OK: break;
    }
    HANDLE handle = args.standardOutput ? OsGetStdHandle(STD_OUTPUT_HANDLE) : reinterpret_cast<HANDLE>(args.handle);

    // Everything after the separator is the text, commas and all: within
    // the shell's buffer, less than a line's room (a caller's longer buffer
    // gets the overflow message).
    const size_t length = wcsnlen(args.text, MAX_ARG_LEN);
    if (length >= MAX_ARG_LEN)
        return ReportError(L"Buffer overflow");
    wmemcpy(line, args.text, length + 1);
    if (ExpandEscapes(line, nullptr) == RESULT_OVERFLOW || wcslen(line) >= MAX_ARG_LEN - 2)
        return ReportError(L"Buffer overflow");
    wcscat(line, L"\r\n");
    const DWORD units = DWORD(wcslen(line));

    WriteLine(handle, line, units, GetOutputCodePage(), buffer);
    return 0;
}

} // extern "C"
