// ivsh.exe: starts the shell program that lives in TakeCmd.dll.
#include <windows.h>
#include <shellapi.h>

#include "shell/host_api.h"

int main()
{
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argv == nullptr)
        return 1;
    int result = HostMain(argc, argv);
    LocalFree(argv);
    return result;
}
