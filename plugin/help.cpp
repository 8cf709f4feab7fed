#include "plugin/module.h"

// The viewer process started by the last successful help request; it is the
// only thing the module leaves running between calls.
static HANDLE g_helpViewer = nullptr;

void EndHelpViewer()
{
    if (g_helpViewer != nullptr) {
        // A viewer the user has closed fails to terminate; that is no error.
        TerminateProcess(g_helpViewer, 0);
        CloseHandle(g_helpViewer);
    }
    g_helpViewer = nullptr;
}
