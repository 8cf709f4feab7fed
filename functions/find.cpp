// Searching: @expfind.
#include <cwchar>

#include "escape/numbers.h"
#include "functions/argument_readers.h"
#include "functions/search.h"
#include "plugin/exports.h"
#include "plugin/host.h"
#include "plugin/module.h"
#include "plugin/os.h"

namespace {

// Has the shell evaluate the expression in `buffer` in place, with standard
// output and standard error sent to the null device for the moment, so that
// whatever the evaluator says about a bad expression reaches nobody. Returns
// what the shell's Evaluate returned.
//
// Only a handle that can be put back is sent away, and each comes back as it
// was. Should putting one back fail, it still names the null device, which
// is then left open: the shell's output is lost, but it never goes to a
// closed handle, nor to whatever file later takes that handle's number.
int EvaluateQuietly(wchar_t* buffer)
{
    const HANDLE err = OsGetStdHandle(STD_ERROR_HANDLE);
    const HANDLE out = OsGetStdHandle(STD_OUTPUT_HANDLE);
    HANDLE null = INVALID_HANDLE_VALUE;
    if (err != INVALID_HANDLE_VALUE && out != INVALID_HANDLE_VALUE)
        null = OsCreateFileW(L"nul", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, 0, nullptr);
    const bool quiet = null != INVALID_HANDLE_VALUE;
    const bool errSent = quiet && OsSetStdHandle(STD_ERROR_HANDLE, null);
    const bool outSent = quiet && OsSetStdHandle(STD_OUTPUT_HANDLE, null);

    int result = Evaluate(buffer);

    const bool errBack = !errSent || OsSetStdHandle(STD_ERROR_HANDLE, err);
    const bool outBack = !outSent || OsSetStdHandle(STD_OUTPUT_HANDLE, out);
    if (quiet && errBack && outBack)
        OsCloseHandle(null);
    return result;
}

// The offset: `expression` evaluated by the shell, quietly, and read as a
// number into *offset. False when it is no number. A function of its own, so
// that its buffer is not on the stack beside the search.
__attribute__((noinline)) bool EvaluateOffset(const wchar_t* expression, uint32_t* offset)
{
    wchar_t evaluated[MAX_ARG_LEN];
    wcscpy(evaluated, expression);
    EvaluateQuietly(evaluated);
    return ParseNumber(evaluated, nullptr, offset) == RESULT_OK;
}

// The offset's row.
constexpr int kOffset = 4;
static_assert(kFindArguments[kOffset].field == offsetof(FindArguments, offset));

// @expfind once its arguments are split, with `args` the room for the
// expanded string, its map and the substring.
int FindIn(LPWSTR buffer, ArgList& list, FindArguments& args)
{
    const ArgumentReading reading = ReadArguments(list, kFindArguments, &args);
    if (reading.fault != ArgumentFault::kNone)
        return ReportArgumentFault(kFindArguments, reading, list, UpperCase);
    // The offset is the shell's to evaluate, and a number only then.
    uint32_t offset = 0;
    if (args.offset != nullptr && !EvaluateOffset(args.offset, &offset))
        return ReportArgumentFault(kFindArguments, {ArgumentFault::kBadNumber, kOffset}, list, UpperCase);
    if (!(args.flags & 1)) {
        LowerCase(args.text);
        LowerCase(args.pattern);
    }

    FindOutcome outcome;
    switch (FindOccurrence(args.text, args.map, args.unexpanded, args.pattern, args.n, offset, &outcome)) {
    case RESULT_NO_MEMORY: return ReportError(L"Error allocating matches buffer");
    case RESULT_INTERNAL: return ReportError(L"Internal error");
    }
    if (args.n == 0)
        wsprintfW(buffer, L"%u", outcome.count);
    else if (!outcome.found)
        wcscpy(buffer, L"-1");
    else if (args.flags & 8)
        wsprintfW(buffer, L"%u+%u", outcome.start, outcome.length);
    else
        wsprintfW(buffer, L"%u", outcome.start);
    return 0;
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
    ArgList list;
    if (SplitArgs(buffer, &list) < 0)
        return -1;
    // The expanded string, its map and the substring: 64 KB.
    return WithScratch<FindArguments>(L"Error allocating position map",
                                      [&](FindArguments& args) { return FindIn(buffer, list, args); });
}

} // extern "C"
