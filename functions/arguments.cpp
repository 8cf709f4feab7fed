#include "functions/arguments.h"

#include <cwchar>

#include "escape/args.h"
#include "plugin/module.h"

bool CopyArgument(int k, wchar_t* out)
{
    const wchar_t* arg = g_argList.args[k];
    if (arg == nullptr)
        return false;
    // An argument lies inside the list's buffer, so it fits in MAX_ARG_LEN.
    wcscpy(out, arg);
    return true;
}

bool ReadFlags(int k, uint32_t* value)
{
    const wchar_t* arg = g_argList.args[k];
    return arg == nullptr || ParseNumber(arg, nullptr, value) == 0;
}

void UpperCaseAscii(wchar_t* text)
{
    for (; *text != 0; ++text)
        if (*text >= L'a' && *text <= L'z')
            *text = wchar_t(*text - L'a' + L'A');
}

void UpperCase(wchar_t* text) { CharUpperBuffW(text, DWORD(wcslen(text))); }

int ReportBadNumber(const wchar_t* format, int k, void (*upper)(wchar_t*))
{
    wchar_t* arg = g_argList.args[k];
    upper(arg);
    return ReportError(format, arg);
}
