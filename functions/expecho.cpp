// The command EXPECHO and the usage texts of the module's commands.
#include <cwchar>

#include "escape/chars.h"
#include "escape/expand.h"
#include "plugin/exports.h"
#include "plugin/host.h"
#include "plugin/module.h"
#include "plugin/version.h"

namespace {

// Only the syntax line ends in CR LF; the last two lines end in a space.
const wchar_t kExpechoUsage[] =
    L"Expand escapes and display text.\n"
    L"\n"
    L"EXPECHO text\r\n"
    L"\n"
    L"Escape sequences will be expanded, and the resulting text \n"
    L"sent to stdout.  No end-of-line will be appended. \n";

// Each text starts with a one-line description; the usage proper follows the
// first run of line feeds and is shorter than the 1024 units of Usage's out.
struct UsageRow {
    wchar_t name[15];
    const wchar_t* text;
};
const UsageRow kUsageTable[] = {
    {L"expecho", kExpechoUsage},
};

} // namespace

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
        QPuts(kExpechoUsage);
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

// The usage of one of the module's commands, without its description line.
int WINAPI Usage(LPWSTR name, LPWSTR out)
{
    if (name == nullptr || out == nullptr || name[0] == L'@' || name[0] == L'_')
        return 0;
    for (const UsageRow& row : kUsageTable) {
        if (_wcsicmp(name, row.name) != 0)
            continue;
        const wchar_t* usage = wcschr(row.text, L'\n');
        while (*usage == L'\n')
            ++usage;
        wcsncpy(out, usage, 1023);
        out[1023] = 0;
        return 1;
    }
    return 0;
}

} // extern "C"
