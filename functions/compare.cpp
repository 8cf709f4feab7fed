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
        const ArgumentReading reading = ReadArguments(list, kCompareArguments, &args);
        if (reading.fault != ArgumentFault::kNone)
            return ReportArgumentFault(kCompareArguments, reading, list, UpperCaseAscii);
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
        const ArgumentReading reading = ReadArguments(list, kReplaceArguments, &args);
        if (reading.fault != ArgumentFault::kNone)
            return ReportArgumentFault(kReplaceArguments, reading, list, UpperCaseAscii);
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
