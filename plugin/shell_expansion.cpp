// ExpandShellText: the shell's expansion of a text, into a buffer of the
// caller's size.
#include <cwchar>

#include "plugin/host.h"
#include "plugin/module.h"

int ExpandShellTextInto(const wchar_t* text, wchar_t (&buffer)[MAX_ARG_LEN])
{
    // The shell may write up to MAX_ARG_LEN units here, but reads only the
    // text up to its NUL and leaves its result NUL-terminated: the rest of
    // the buffer is never read and needs no clearing.
    size_t length = wcslen(text);
    if (length >= MAX_ARG_LEN)
        length = MAX_ARG_LEN - 1;
    wmemcpy(buffer, text, length);
    buffer[length] = 0;
    const int result = ExpandVariables(buffer, 1);
    buffer[MAX_ARG_LEN - 1] = 0;
    return result;
}

int ExpandShellText(const wchar_t* text, wchar_t* out, size_t outUnits, bool* truncated)
{
    wchar_t scratch[MAX_ARG_LEN];
    const int result = ExpandShellTextInto(text, scratch);
    size_t expanded = wcsnlen(scratch, MAX_ARG_LEN - 1);
    bool cut = expanded >= outUnits;
    if (cut)
        expanded = outUnits - 1;
    wmemcpy(out, scratch, expanded);
    out[expanded] = 0;
    if (truncated)
        *truncated = cut;
    return result;
}
