// Usage: the usage texts of the module's commands, for the shell's usage
// requests and for the command's own "/?".
#include <cwchar>

#include "plugin/exports.h"
#include "plugin/module.h"

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

const wchar_t* CommandUsage(const wchar_t* command)
{
    for (const UsageRow& row : kUsageTable)
        if (_wcsicmp(command, row.name) == 0)
            return row.text;
    return nullptr;
}

extern "C" {

// The usage of one of the module's commands, without its description line.
int WINAPI Usage(LPWSTR name, LPWSTR out)
{
    if (name == nullptr || out == nullptr || name[0] == L'@' || name[0] == L'_')
        return 0;
    const wchar_t* usage = CommandUsage(name);
    if (usage == nullptr)
        return 0;
    usage = wcschr(usage, L'\n');
    while (*usage == L'\n')
        ++usage;
    wcsncpy(out, usage, 1023);
    out[1023] = 0;
    return 1;
}

} // extern "C"
