#include <cwchar>

#include "escape/args.h"
#include "functions/argument_readers.h"
#include "plugin/host.h"
#include "plugin/module.h"
#include "plugin/os.h"

namespace {

// Writes the batch file's name and line to `err`. A function of its own, so
// that its buffer is not on the stack while ExpandShellText's is (the
// module_stack test).
__attribute__((noinline)) void WriteBatchPlace(HANDLE err)
{
    wchar_t where[MAX_ARG_LEN];
    ExpandShellTextInto(L"%_batchname [%_batchline]  ", where);
    Qprintf(err, L"%s", where);
}

// Writes the prefix of an error message to `err`, standard error: "Ivro
// plugin: ", and inside a batch file the batch file's name and line.
void ErrorHeader(HANDLE err)
{
    Qprintf(err, L"%s plugin: ", kModuleName);

    wchar_t batch[16];
    ExpandShellText(L"%_batch", batch, 16);
    // Inside a batch file (or when the shell cannot say): name it.
    if (batch[0] != L'0')
        WriteBatchPlace(err);
}

// Writes one message: the prefix, then `format` with its values (each a %s,
// never read for conversions itself) and the line end. Returns -1.
int Report(const wchar_t* format, const wchar_t* first, const wchar_t* second = nullptr)
{
    const HANDLE err = OsGetStdHandle(STD_ERROR_HANDLE);
    ErrorHeader(err);
    Qprintf(err, format, first, second);
    return -1;
}

} // namespace

// Every message is written through "%s": a percent sign in it, or in a value
// it shows, is printed as it stands and never read as a conversion. Standard
// error is asked for once a message: should Windows not give it, the
// whole message is lost, never its prefix alone.
int ReportError(const wchar_t* message) { return Report(L"%s\r\n", message); }

int ReportError(const wchar_t* label, const wchar_t* value) { return Report(L"%s: \"%s\"\r\n", label, value); }

int ReportArgumentFault(const ArgumentRow* rows, ArgumentReading reading, const ArgList& list,
                        void (*upper)(wchar_t*))
{
    const int k = reading.index;
    switch (reading.fault) {
    case ArgumentFault::kNone: break;
    case ArgumentFault::kMissing: return Report(L"Missing %s\r\n", rows[k].name);
    case ArgumentFault::kOverflow: return Report(L"Buffer overflow expanding %s\r\n", rows[k].name);
    case ArgumentFault::kNoMap: return ReportError(L"Error allocating position map");
    case ArgumentFault::kBadNumber:
        upper(list.args[k]);
        return Report(L"Bad %s: \"%s\"\r\n", rows[k].name, list.args[k]);
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
