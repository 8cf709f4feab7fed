// The escape engine's variable functions, as the shell calls them.
#include "escape/expand.h"
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

} // extern "C"
