#include <cwchar>

#include "escape/args.h"
#include "functions/argument_readers.h"
#include "plugin/host.h"
#include "plugin/module.h"
#include "plugin/os.h"

namespace {

// Writes the prefix of an error message to `err`, standard error: "Ivro
// plugin: ", and inside a batch file the batch file's name and line.
void ErrorHeader(HANDLE err)
{
    Qprintf(err, L"%s plugin: ", kModuleName);

    wchar_t batch[16];
    ExpandShellText(L"%_batch", batch, 16);
    if (batch[0] == L'0')
        return;

    // Inside a batch file (or when the shell cannot say): name it.
    wchar_t where[MAX_ARG_LEN];
    ExpandShellTextInto(L"%_batchname [%_batchline]  ", where);
    Qprintf(err, L"%s", where);
}

} // namespace

// Every message is written through "%s": a percent sign in it, or in a value
// it shows, is printed as it stands and never read as a conversion. Standard
// error is asked for once a message: should Windows not give it, the
// whole message is lost, never its prefix alone.
int ReportError(const wchar_t* message)
{
    const HANDLE err = OsGetStdHandle(STD_ERROR_HANDLE);
    ErrorHeader(err);
    Qprintf(err, L"%s\r\n", message);
    return -1;
}

int ReportError(const wchar_t* label, const wchar_t* value)
{
    const HANDLE err = OsGetStdHandle(STD_ERROR_HANDLE);
    ErrorHeader(err);
    Qprintf(err, L"%s: \"%s\"\r\n", label, value);
    return -1;
}

int ReportArgumentFault(const ArgumentRow* rows, ArgumentReading reading, const ArgList& list,
                        void (*upper)(wchar_t*))
{
    const ArgumentRow& row = rows[reading.index];
    const HANDLE err = OsGetStdHandle(STD_ERROR_HANDLE);
    switch (reading.fault) {
    case ArgumentFault::kNone: break;
    case ArgumentFault::kMissing:
        ErrorHeader(err);
        Qprintf(err, L"Missing %s\r\n", row.name);
        break;
    case ArgumentFault::kOverflow:
        ErrorHeader(err);
        Qprintf(err, L"Buffer overflow expanding %s\r\n", row.name);
        break;
    case ArgumentFault::kNoMap: return ReportError(L"Error allocating position map");
    case ArgumentFault::kBadNumber: {
        wchar_t* argument = list.args[reading.index];
        upper(argument);
        ErrorHeader(err);
        Qprintf(err, L"Bad %s: \"%s\"\r\n", row.name, argument);
        break;
    }
    }
    return -1;
}

int ReportBadArgument(const wchar_t* label, wchar_t* argument, void (*upper)(wchar_t*))
{
    upper(argument);
    return ReportError(label, argument);
}

void ReportSplitOverflow(int used, int capacity)
{
    wchar_t message[80];
    wsprintfW(message, L"Buffer overflow: b = %d, MAX_ARG_LEN = %d ", used, capacity);
    ReportError(message);
}
