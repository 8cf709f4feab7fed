// What the help tests and the soak know of the viewer processes the module
// starts.
#pragma once

#include <windows.h>

// True while the process `pid` runs.
inline bool Alive(DWORD pid)
{
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
    if (process == nullptr)
        return false;
    bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    CloseHandle(process);
    return running;
}
