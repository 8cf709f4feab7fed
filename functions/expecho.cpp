// The command EXPECHO.
#include <cwchar>

#include "escape/chars.h"
#include "escape/expand.h"
#include "plugin/exports.h"
#include "plugin/host.h"
#include "plugin/module.h"
#include "plugin/version.h"


extern "C" {

// EXPECHO text: prints the text with its escapes expanded and no line end.
// "/?" prints the usage, "/??" the usage and the version line.
int WINAPI expecho(LPWSTR args)
{
    if (args == nullptr)
        return 1;

    const wchar_t* option = args;
    while (IsSpace(*option))
        ++option;
    if (wcscmp(option, L"/?") == 0 || wcscmp(option, L"/??") == 0) {
        QPuts(CommandUsage(L"expecho"));
        if (option[2] == L'?')
            Printf(L"\r\n\t\t\t\t%s  %u.%u.%u.%u (%s)\r\n", kModuleName, unsigned(IVRO_VERSION_MAJOR),
                   unsigned(IVRO_VERSION_MINOR), unsigned(IVRO_VERSION_BUILD), unsigned(IVRO_VERSION_REVISION),
                   L"" IVRO_PLATFORM);
        return 0;
    }

    // One blank separates the command from its text; any further ones are
    // text. The text is moved over it, so that expansion has the whole buffer
    // to work in, and put back where expansion fails.
    const wchar_t separator = args[0];
    const bool separated = IsSpace(separator);
    if (separated)
        wmemmove(args, args + 1, wcslen(args));
    if (ExpandEscapes(args, nullptr) == RESULT_OVERFLOW) {
        if (separated) {
            wmemmove(args + 1, args, wcslen(args) + 1);
            args[0] = separator;
        }
        ReportError(L"Buffer overflow");
        return 2;
    }
    QPuts(args);
    return 0;
}

} // extern "C"
