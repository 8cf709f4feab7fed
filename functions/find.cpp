// Searching: @expfind.
#include <cwchar>

#include "escape/args.h"
#include "escape/expand.h"
#include "escape/scratch.h"
#include "functions/arguments.h"
#include "functions/search.h"
#include "plugin/host.h"
#include "plugin/module.h"

// Has the shell evaluate the expression in `buffer` in place, with standard
// output and standard error sent to the null device for the moment, so that
// whatever the evaluator says about a bad expression reaches nobody. Returns
// what the shell's Evaluate returned.
int EvaluateQuietly(wchar_t* buffer)
{
    HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    HANDLE null = CreateFileW(L"nul", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, 0, nullptr);
    const bool quiet = null != INVALID_HANDLE_VALUE;
    if (quiet) {
        SetStdHandle(STD_ERROR_HANDLE, null);
        SetStdHandle(STD_OUTPUT_HANDLE, null);
    }
    int result = Evaluate(buffer);
    if (quiet) {
        SetStdHandle(STD_ERROR_HANDLE, err);
        SetStdHandle(STD_OUTPUT_HANDLE, out);
        CloseHandle(null);
    }
    return result;
}

namespace {

// Scans `text` for `pattern` from `from`, occurrences overlapping.
void StartScan(Search* search, const wchar_t* text, size_t textLength, const wchar_t* pattern,
               size_t patternLength, size_t from)
{
    search->text = text;
    search->textLength = textLength;
    search->pattern = pattern;
    search->patternLength = patternLength;
    search->overlapping = true;
    StartSearch(search, from);
}

} // namespace

extern "C" {

// @expfind[string,substring[,n[,flags[,offset]]]]: where the n-th occurrence
// of substring lies in string, both expanded, counted in units of string as
// written. n 0 counts; a negative n counts from the back. Flags: 1 respect
// case, 8 add the length ("start+length"). The search begins at the unit
// produced from offset (an expression) or later.
int WINAPI f_expfind(LPWSTR buffer)
{
    if (buffer == nullptr)
        return 1;
    wchar_t text[MAX_ARG_LEN] = {};
    wchar_t pattern[MAX_ARG_LEN] = {};
    int32_t map[MAX_ARG_LEN];
    int32_t n = 1;
    uint32_t flags = 0;
    uint32_t offset = 0;
    SplitArgs(buffer);

    if (CopyArgument(0, text)) {
        int expanded = ExpandEscapes(text, map);
        if (expanded == RESULT_OVERFLOW)
            return ReportError(L"Buffer overflow expanding string\r\n");
        // The positions rest on the map: never search without it.
        if (expanded == RESULT_NO_MEMORY)
            return ReportError(L"Error allocating position map\r\n");
    }
    if (CopyArgument(1, pattern) && ExpandEscapes(pattern, nullptr) == RESULT_OVERFLOW)
        return ReportError(L"Buffer overflow expanding substring\r\n");
    if (g_argList.args[2] != nullptr && ParseSignedNumber(g_argList.args[2], &n) != 0)
        return ReportBadNumber(L"Bad n: \"%s\"\r\n", 2, UpperCase);
    if (!ReadFlags(3, &flags))
        return ReportBadNumber(L"Bad flags: \"%s\"\r\n", 3, UpperCase);
    if (g_argList.args[4] != nullptr) {
        wchar_t expression[MAX_ARG_LEN] = {};
        wcscpy(expression, g_argList.args[4]);
        EvaluateQuietly(expression);
        if (ParseNumber(expression, nullptr, &offset) != 0)
            return ReportBadNumber(L"Bad offset: \"%s\"\r\n", 4, UpperCase);
    }

    if (!(flags & 1)) {
        CharLowerBuffW(text, DWORD(wcslen(text)));
        CharLowerBuffW(pattern, DWORD(wcslen(pattern)));
    }
    const size_t lenS = wcslen(text);
    const size_t lenT = wcslen(pattern);
    const uint32_t unexpanded = uint32_t(g_argList.lengths[0]);

    // The first unit whose source lies at or after the offset; an escape that
    // starts before the offset is skipped even where it ends after it.
    size_t start = 0;
    if (offset != 0 && unexpanded != 0 && lenS != 0) {
        start = lenS;
        if (offset < unexpanded)
            for (size_t i = 0; i < lenS; ++i)
                if (uint32_t(map[i]) >= offset) {
                    start = i;
                    break;
                }
    }

    Search search;
    uint32_t count = 0;
    const bool searchable = start < lenS && lenT > 0;
    if (searchable) {
        StartScan(&search, text, lenS, pattern, lenT, start);
        while (NextOccurrence(&search) != kNoOccurrence)
            ++count;
    }
    if (n == 0) {
        wsprintfW(buffer, L"%u", count);
        return 0;
    }

    // One list, of exactly as many entries as there are occurrences.
    uint32_t* matches = nullptr;
    if (count > 0) {
        matches = static_cast<uint32_t*>(ScratchAlloc(count * sizeof(uint32_t)));
        if (matches == nullptr)
            return ReportError(L"Error allocating matches buffer\r\n");
        StartScan(&search, text, lenS, pattern, lenT, start);
        for (uint32_t stored = 0; stored < count; ++stored) {
            size_t at = NextOccurrence(&search);
            if (at == kNoOccurrence) {
                ScratchFree(matches);
                return ReportError(L"Internal error\r\n");
            }
            matches[stored] = uint32_t(at);
        }
    }

    // The n-th occurrence from the front, or the -n-th from the back; -2^31
    // asks for 2^31 from the back, more than there can be.
    const uint32_t wanted = n > 0 ? uint32_t(n) : 0u - uint32_t(n);
    if (wanted > count) {
        ScratchFree(matches);
        wcscpy(buffer, L"-1");
        return 0;
    }
    const size_t i = matches[n > 0 ? wanted - 1 : count - wanted];
    ScratchFree(matches);
    const uint32_t first = uint32_t(map[i]);
    const size_t after = i + lenT;
    const uint32_t end = after < lenS ? uint32_t(map[after]) : unexpanded;
    if (flags & 8)
        wsprintfW(buffer, L"%u+%u", first, end - first);
    else
        wsprintfW(buffer, L"%u", first);
    return 0;
}

} // extern "C"
