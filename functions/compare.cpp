// Comparing and replacing: @expcmp, @expreplace.
#include <cwchar>

#include "escape/settings.h"
#include "functions/argument_readers.h"
#include "functions/search.h"
#include "plugin/exports.h"
#include "plugin/module.h"

extern "C" {

// @expcmp[string1,string2[,flags]]: -1, 0 or 1 as string1 sorts before, equal
// to or after string2, unit by unit, after expansion. Flag 1 ignores case.
int WINAPI f_expcmp(LPWSTR buffer)
{
    if (buffer == nullptr)
        return 1;
    ArgList list;
    if (SplitArgs(buffer, &list) < 0)
        return -1;
    // The two strings expanded: 32 KB.
    return WithScratch<CompareArguments>(L"Error allocating comparison buffers", [&](CompareArguments& args) {
        switch (ReadCompareArguments(list, &args)) {
        case COMPARE_MISSING_STRING1: return ReportError(L"Missing string1");
        case COMPARE_OVERFLOW_STRING1: return ReportError(L"Buffer overflow expanding string1");
        case COMPARE_MISSING_STRING2: return ReportError(L"Missing string2");
        case COMPARE_OVERFLOW_STRING2: return ReportError(L"Buffer overflow expanding string2");
        case COMPARE_BAD_FLAGS: return ReportBadArgument(L"Bad flags", list.args[2], UpperCaseAscii);
        case COMPARE_OK: break;
        }
        if (args.flags & 1) {
            LowerCase(args.first);
            LowerCase(args.second);
        }
        wsprintfW(buffer, L"%d", CompareUnits(args.first, args.second));
        return 0;
    });
}

// @expreplace[from,to,flags,string]: string with every occurrence of from
// replaced by to, escapified. Flags: 1 ignore case, 2 only the first
// occurrence, 4 leave the result unescaped.
int WINAPI f_expreplace(LPWSTR buffer)
{
    if (buffer == nullptr)
        return 1;
    ArgList list;
    if (SplitArgs(buffer, &list) < 0)
        return -1;
    // The three strings expanded: 48 KB.
    return WithScratch<ReplaceArguments>(L"Error allocating replacement buffers", [&](ReplaceArguments& args) {
        switch (ReadReplaceArguments(list, &args)) {
        case REPLACE_MISSING_FROM: return ReportError(L"Missing \x2018" L"from\x2019 string");
        case REPLACE_OVERFLOW_FROM: return ReportError(L"Buffer overflow expanding \x2018" L"from\x2019 string");
        case REPLACE_OVERFLOW_TO: return ReportError(L"Buffer overflow expanding \x2018to\x2019 string");
        case REPLACE_BAD_FLAGS: return ReportBadArgument(L"Bad flags", list.args[2], UpperCaseAscii);
        case REPLACE_OVERFLOW_MAIN: return ReportError(L"Buffer overflow expanding main string");
        case REPLACE_OK: break;
        }
        if (args.text[0] == 0) {
            buffer[0] = 0;
            return 0;
        }
        if (ReplaceInText(&args, LowerCase) == RESULT_OVERFLOW)
            return ReportError(L"Buffer overflow replacing string");
        if (!(args.flags & 4) && EscapifyForShell(args.text, L"Buffer overflow escapifying resulting string") != 0)
            return -1;
        wcscpy(buffer, args.text);
        return 0;
    });
}

} // extern "C"
