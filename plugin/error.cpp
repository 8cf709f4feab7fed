#include <cwchar>

#include "escape/args.h"
#include "plugin/host.h"
#include "plugin/module.h"

int ErrorHeader()
{
    Qprintf(StdErr(), L"%s plugin: ", kModuleName);

    wchar_t batch[MAX_ARG_LEN];
    ExpandShellText(L"%_batch", batch, MAX_ARG_LEN);
    if (batch[0] == L'0')
        return 0;

    // Inside a batch file (or when the shell cannot say): name it. The text is
    // written through "%s", so a percent sign in the file name is printed as
    // it stands and never read as a conversion.
    wchar_t where[MAX_ARG_LEN];
    ExpandShellText(L"%_batchname [%_batchline]  ", where, MAX_ARG_LEN);
    Qprintf(StdErr(), L"%s", where);
    return 0;
}

int ReportError(const wchar_t* message)
{
    ErrorHeader();
    Qprintf(StdErr(), message);
    return -1;
}

int ReportError(const wchar_t* format, const wchar_t* text)
{
    ErrorHeader();
    Qprintf(StdErr(), format, text);
    return -1;
}

int ReportError(const wchar_t* format, unsigned number)
{
    ErrorHeader();
    Qprintf(StdErr(), format, number);
    return -1;
}

void ReportSplitOverflow(int used, int capacity)
{
    ErrorHeader();
    Qprintf(StdErr(), L"Buffer overflow: b = %d, MAX_ARG_LEN = %d \r\n", used, capacity);
}

int ReportBadArgument(const wchar_t* format, int k, void (*upper)(wchar_t*))
{
    wchar_t* arg = g_argList.args[k];
    upper(arg);
    return ReportError(format, arg);
}
