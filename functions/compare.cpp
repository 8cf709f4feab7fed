// Comparing and replacing: @expcmp, @expreplace.
#include <cwchar>

#include "escape/args.h"
#include "escape/scratch.h"
#include "escape/settings.h"
#include "functions/arguments.h"
#include "functions/search.h"
#include "plugin/host.h"
#include "plugin/module.h"

namespace {

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
    CompareArguments args;
    SplitArgs(buffer);
    switch (ReadCompareArguments(&args)) {
    case COMPARE_MISSING_STRING1: return ReportError(L"Missing string1\r\n");
    case COMPARE_OVERFLOW_STRING1: return ReportError(L"Buffer overflow expanding string1\r\n");
    case COMPARE_MISSING_STRING2: return ReportError(L"Missing string2\r\n");
    case COMPARE_OVERFLOW_STRING2: return ReportError(L"Buffer overflow expanding string2\r\n");
    case COMPARE_BAD_FLAGS: return ReportBadArgument(L"Bad flags: \"%s\"\r\n", 2, UpperCaseAscii);
    case COMPARE_OK: break;
    }
    if (args.flags & 1) {
        LowerCase(args.first);
        LowerCase(args.second);
    }
    wsprintfW(buffer, L"%d", CompareUnits(args.first, args.second));
    return 0;
}

// @expreplace[from,to,flags,string]: string with every occurrence of from
// replaced by to, escapified. Flags: 1 ignore case, 2 only the first
// occurrence, 4 leave the result unescaped.
int WINAPI f_expreplace(LPWSTR buffer)
{
    if (buffer == nullptr)
        return 1;
    ReplaceArguments args;
    SplitArgs(buffer);
    switch (ReadReplaceArguments(&args)) {
    case REPLACE_MISSING_FROM: return ReportError(L"Missing \x2018" L"from\x2019 string\r\n");
    case REPLACE_OVERFLOW_FROM: return ReportError(L"Buffer overflow expanding \x2018" L"from\x2019 string\r\n");
    case REPLACE_OVERFLOW_TO: return ReportError(L"Buffer overflow expanding \x2018to\x2019 string\r\n");
    case REPLACE_BAD_FLAGS: return ReportBadArgument(L"Bad flags: \"%s\"\r\n", 2, UpperCaseAscii);
    case REPLACE_OVERFLOW_MAIN: return ReportError(L"Buffer overflow expanding main string\r\n");
    case REPLACE_OK: break;
    }
    wchar_t* text = args.text;
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
    const size_t fromLength = wcslen(args.from);
    const wchar_t* haystack = text;
    const wchar_t* pattern = args.from;
    wchar_t* loweredText = nullptr;
    wchar_t* loweredFrom = nullptr;
    bool search = fromLength > 0 && fromLength <= textLength;
    if (search && (args.flags & 1)) {
        loweredText = LoweredCopy(text, textLength);
        loweredFrom = loweredText ? LoweredCopy(args.from, fromLength) : nullptr;
        haystack = loweredText;
        pattern = loweredFrom;
        search = loweredFrom != nullptr;
    }
    wchar_t result[MAX_ARG_LEN];
    int length = 0;
    if (search)
        length = ReplaceOccurrences(text, textLength, haystack, pattern, fromLength, args.to, wcslen(args.to),
                                    args.flags & 2, result);
    ScratchFree(loweredFrom);
    ScratchFree(loweredText);
    if (length == RESULT_OVERFLOW)
        return ReportError(L"Buffer overflow replacing string\r\n");
    if (search)
        wmemcpy(text, result, size_t(length) + 1);

    if (!(args.flags & 4) && Escapify(text, escapeFlags, special) == RESULT_OVERFLOW)
        return ReportError(L"Buffer overflow escapifying resulting string\r\n");
    wcscpy(buffer, text);
    return 0;
}

} // extern "C"
