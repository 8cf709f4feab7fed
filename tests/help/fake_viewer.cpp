// A stand-in for the help viewer: appends its process id, its own file name
// and its command line, separated by tabs, to the file named by
// IVRO_VIEWER_LOG, then waits to be ended, as a viewer would stay open. It gives up by itself after a minute, so that no test can
// leave it behind for long.
#include <windows.h>

#include <cwchar>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    wchar_t log[MAX_PATH];
    if (GetEnvironmentVariableW(L"IVRO_VIEWER_LOG", log, MAX_PATH) - 1 < MAX_PATH - 1) {
        HANDLE file = CreateFileW(log, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                  0, nullptr);
        wchar_t image[MAX_PATH] = {};
        GetModuleFileNameW(nullptr, image, MAX_PATH);
        wchar_t line[40000];
        int length = _snwprintf(line, 40000, L"%lu\t%ls\t%ls\n", GetCurrentProcessId(), image, GetCommandLineW());
        DWORD written = 0;
        if (length > 0)
            WriteFile(file, line, DWORD(length) * sizeof(wchar_t), &written, nullptr);
        CloseHandle(file);
    }
    Sleep(60000);
    return 0;
}
