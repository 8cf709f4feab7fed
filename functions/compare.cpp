// Comparing and replacing: @expcmp, @expreplace.
#include <cwchar>

#include "escape/args.h"
#include "escape/expand.h"
#include "escape/scratch.h"
#include "escape/settings.h"
#include "functions/arguments.h"
#include "functions/search.h"
#include "plugin/host.h"
#include "plugin/module.h"

namespace {

// Lower-cases a text in place, unit for unit, as the platform does.
void LowerCase(wchar_t* text) { CharLowerBuffW(text, DWORD(wcslen(text))); }

// A heap copy of `text` lower-cased, or null when the heap refuses.
wchar_t* LoweredCopy(const wchar_t* text, size_t length)
{
    wchar_t* copy = static_cast<wchar_t*>(ScratchAlloc((length + 1) * sizeof(wchar_t)));
    if (copy != nullptr) {
        wmemcpy(copy, text, length + 1);
        CharLowerBuffW(copy, DWORD(length));
    }
    return copy;
}

} // namespace

extern "C" {

// @expcmp[string1,string2[,flags]]: -1, 0 or 1 as string1 sorts before, equal
// to or after string2, unit by unit, after expansion. Flag 1 ignores case.
int WINAPI f_expcmp(LPWSTR buffer)
{
    if (buffer == nullptr)
        return 1;
    wchar_t first[MAX_ARG_LEN] = {};
    wchar_t second[MAX_ARG_LEN] = {};
    uint32_t flags = 0;
    SplitArgs(buffer);

    if (!CopyArgument(0, first))
        return ReportError(L"Missing string1\r\n");
    if (ExpandEscapes(first, nullptr) == RESULT_OVERFLOW)
        return ReportError(L"Buffer overflow expanding string1\r\n");
    if (!CopyArgument(1, second))
        return ReportError(L"Missing string2\r\n");
    if (ExpandEscapes(second, nullptr) == RESULT_OVERFLOW)
        return ReportError(L"Buffer overflow expanding string2\r\n");
    if (!ReadFlags(2, &flags))
        return ReportBadNumber(L"Bad flags: \"%s\"\r\n", 2, UpperCaseAscii);

    if (flags & 1) {
        LowerCase(first);
        LowerCase(second);
    }
    // Units compare as unsigned numbers; the shorter string's NUL is smallest.
    size_t i = 0;
    while (first[i] != 0 && first[i] == second[i])
        ++i;
    const int order = first[i] == second[i] ? 0 : (unsigned(first[i]) < unsigned(second[i]) ? -1 : 1);
    wsprintfW(buffer, L"%d", order);
    return 0;
}

// @expreplace[from,to,flags,string]: string with every occurrence of from
// replaced by to, escapified. Flags: 1 ignore case, 2 only the first
// occurrence, 4 leave the result unescaped.
int WINAPI f_expreplace(LPWSTR buffer)
{
    if (buffer == nullptr)
        return 1;
    wchar_t text[MAX_ARG_LEN] = {};
    wchar_t from[MAX_ARG_LEN] = {};
    wchar_t to[MAX_ARG_LEN] = {};
    wchar_t result[MAX_ARG_LEN];
    uint32_t flags = 0;
    SplitArgs(buffer);

    if (!CopyArgument(0, from))
        return ReportError(L"Missing \x2018" L"from\x2019 string\r\n");
    if (ExpandEscapes(from, nullptr) == RESULT_OVERFLOW)
        return ReportError(L"Buffer overflow expanding \x2018" L"from\x2019 string\r\n");
    if (CopyArgument(1, to) && ExpandEscapes(to, nullptr) == RESULT_OVERFLOW)
        return ReportError(L"Buffer overflow expanding \x2018to\x2019 string\r\n");
    if (!ReadFlags(2, &flags))
        return ReportBadNumber(L"Bad flags: \"%s\"\r\n", 2, UpperCaseAscii);
    if (CopyArgument(3, text) && ExpandEscapes(text, nullptr) == RESULT_OVERFLOW)
        return ReportError(L"Buffer overflow expanding main string\r\n");

    if (text[0] == 0) {
        buffer[0] = 0;
        return 0;
    }
    wchar_t special[SPECIAL_CHARS_LEN] = {};
    uint32_t escapeFlags = 0;
    GetEscapeSettings(special, &escapeFlags);

    // One pass assembles the result. Ignoring case, the search runs over
    // lower-cased copies made once; without memory for them nothing is found.
    const size_t textLength = wcslen(text);
    const size_t fromLength = wcslen(from);
    const wchar_t* haystack = text;
    const wchar_t* pattern = from;
    wchar_t* loweredText = nullptr;
    wchar_t* loweredFrom = nullptr;
    bool search = fromLength > 0 && fromLength <= textLength;
    if (search && (flags & 1)) {
        loweredText = LoweredCopy(text, textLength);
        loweredFrom = loweredText ? LoweredCopy(from, fromLength) : nullptr;
        haystack = loweredText;
        pattern = loweredFrom;
        search = loweredFrom != nullptr;
    }
    int length = 0;
    if (search)
        length = ReplaceOccurrences(text, textLength, haystack, pattern, fromLength, to, wcslen(to), flags & 2,
                                    result);
    ScratchFree(loweredFrom);
    ScratchFree(loweredText);
    if (length == RESULT_OVERFLOW)
        return ReportError(L"Buffer overflow replacing string\r\n");
    if (search)
        wmemcpy(text, result, size_t(length) + 1);

    if (!(flags & 4) && Escapify(text, escapeFlags, special) == RESULT_OVERFLOW)
        return ReportError(L"Buffer overflow escapifying resulting string\r\n");
    wcscpy(buffer, text);
    return 0;
}

} // extern "C"
