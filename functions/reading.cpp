// Escaped reading: @escenv, @escline, @escread.
#include <cwchar>

#include "escape/chars.h"
#include "escape/cursor.h"
#include "escape/settings.h"
#include "functions/argument_readers.h"
#include "plugin/exports.h"
#include "plugin/host.h"
#include "plugin/module.h"
#include "plugin/os.h"

namespace {

// Has the shell run SETDOS with `args` (or none). The prefix * keeps an alias
// named setdos out of the way, unless the setting in force already does.
void RunSetdos(const wchar_t* args)
{
    wchar_t setting[1024];
    ExpandShellText(L"%_expansion", setting, 1024);

    wchar_t line[MAX_ARG_LEN];
    TextCursor command(line, MAX_ARG_LEN);
    if (wcschr(setting, L'1') == nullptr)
        command.Append(L'*');
    command.Append(L"setdos");
    if (args != nullptr && args[0] != 0) {
        if (!IsSpace(args[0]))
            command.Append(L' ');
        command.Append(args);
    }
    // The arguments are the module's own and short: a cut command is never run.
    if (!command.Overflowed())
        Command(line, 0);
}

// Has the shell expand `function` (the opening of one of its functions, such
// as "%@line[") around the argument, with its expansion settings changed for
// the moment, and escapifies what comes back.
int EscapedShellRead(LPWSTR buffer, const wchar_t* function)
{
    if (buffer == nullptr)
        return 1;

    wchar_t expression[MAX_ARG_LEN];
    TextCursor cursor(expression, MAX_ARG_LEN);
    cursor.Append(function);
    cursor.Append(buffer);
    cursor.Append(L']');
    if (cursor.Overflowed())
        return ReportError(L"Buffer overflow");

    // The shell's expansion setting, saved for this call alone: the shell's
    // expansion of the argument may run @escline or @escread again, and each
    // call brings back exactly what it found. A setting that does not fit
    // could not be brought back whole: better to leave everything as it is.
    wchar_t saved[32];
    bool cut = false;
    ExpandShellText(L"%_expansion", saved, sizeof saved / sizeof(wchar_t), &cut);
    if (cut)
        return ReportError(L"Expansion setting too long", saved);
    if (saved[0] == 0)
        wcscpy(saved, L"0");

    RunSetdos(L" /x-1478+3");
    const int result = ExpandVariables(expression, 1);
    wchar_t restore[40];
    TextCursor option(restore, 40);
    option.Append(L"/X");
    option.Append(saved);
    RunSetdos(restore);

    // The shell has reported its own failure.
    if (result != 0)
        return result;

    wcscpy(buffer, expression);
    return EscapifyForShell(buffer);
}

} // namespace

extern "C" {

// @escline[file,n]: line n of a file, escaped, as the shell's @line reads it.
int WINAPI f_escline(LPWSTR buffer) { return EscapedShellRead(buffer, L"%@line["); }

// @escread[handle]: the next line from an open file, escaped, as the shell's
// @fileread reads it.
int WINAPI f_escread(LPWSTR buffer) { return EscapedShellRead(buffer, L"%@fileread["); }

// @escenv[name]: the value of an environment variable, escaped. The name may
// be written with leading percent signs.
int WINAPI f_escenv(LPWSTR buffer)
{
    if (buffer == nullptr)
        return 1;
    wchar_t* name = nullptr;
    switch (ReadVariableName(buffer, &name)) {
    case NAME_MISSING: return ReportError(L"No variable name");
    case NAME_BAD:
        UpperCase(buffer);
        return ReportError(L"Bad variable name", name);
    case NAME_OK: break;
    }

    // Unset, or too long for the buffer: the value is empty.
    wchar_t value[MAX_ARG_LEN] = {};
    DWORD length = OsGetEnvironmentVariableW(name, value, MAX_ARG_LEN);
    if (length == 0 || length >= MAX_ARG_LEN)
        value[0] = 0;
    if (EscapifyForShell(value) != 0)
        return -1;
    wcscpy(buffer, value);
    return 0;
}

} // extern "C"
