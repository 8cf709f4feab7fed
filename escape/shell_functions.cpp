// The escape engine's variable functions, as the shell calls them.
#include "escape/expand.h"
#include "escape/settings.h"
#include "plugin/exports.h"
#include "plugin/module.h"

extern "C" {

// @exp[text]: the text with its escapes expanded. The argument is taken whole:
// commas, double quotes and surrounding spaces are ordinary characters.
int WINAPI f_exp(LPWSTR buffer)
{
    if (buffer == nullptr)
        return 1;
    if (ExpandEscapes(buffer, nullptr) == RESULT_OVERFLOW)
        return ReportError(L"Buffer overflow");
    // Without memory for scratch the text stays as it was: still a result.
    return 0;
}

// @escapify[text]: the text in escaped form, under the shell's current
// settings. The argument is taken whole and no escapes in it are expanded.
int WINAPI f_escapify(LPWSTR buffer)
{
    if (buffer == nullptr)
        return 1;
    return EscapifyForShell(buffer);
}

} // extern "C"
