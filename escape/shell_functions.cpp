// The escape engine's variable functions, as the shell calls them.
#include "escape/escapify.h"
#include "escape/expand.h"
#include "escape/settings.h"
#include "plugin/host.h"
#include "plugin/module.h"

extern "C" {

// @exp[text]: the text with its escapes expanded. The argument is taken whole:
// commas, double quotes and surrounding spaces are ordinary characters.
int WINAPI f_exp(LPWSTR buffer)
{
    if (buffer == nullptr)
        return 1;
    if (ExpandEscapes(buffer, nullptr) == RESULT_OVERFLOW)
        return ReportError(L"Buffer overflow\r\n");
    // Without memory for scratch the text stays as it was: still a result.
    return 0;
}

// @escapify[text]: the text in escaped form, under the shell's current
// settings. The argument is taken whole and no escapes in it are expanded.
int WINAPI f_escapify(LPWSTR buffer)
{
    if (buffer == nullptr)
        return 1;
    wchar_t special[SPECIAL_CHARS_LEN] = {};
    uint32_t flags = 0;
    GetEscapeSettings(special, &flags);
    if (Escapify(buffer, flags, special) == RESULT_OVERFLOW)
        return ReportError(L"Buffer overflow\r\n");
    // Without memory for the work buffer the text stays unescaped.
    return 0;
}

} // extern "C"
