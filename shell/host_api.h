// The host-side exports of TakeCmd.dll: the shell program itself and the
// hooks through which test programs drive the shell.
#pragma once

#include <windows.h>

#ifndef TAKECMD_API
#define TAKECMD_API __declspec(dllimport)
#endif

extern "C" {

// The whole shell program: parses the arguments (argv[0] is the program),
// loads the module, runs, unloads, and returns the exit code.
TAKECMD_API int WINAPI HostMain(int argc, LPWSTR* argv);

// Loads a module (null or empty: Ivro-x86.dll or, in a 64-bit shell,
// Ivro-x64.dll beside TakeCmd.dll). 0 on
// success, non-zero after a message on standard error.
TAKECMD_API int WINAPI HostLoadModule(LPCWSTR path);

// Calls the module's ShutdownPlugin once and unloads it.
TAKECMD_API void WINAPI HostUnloadModule(void);

// Sets the internal variable _transient or _pipe. 0 on success, non-zero for
// any other name.
TAKECMD_API int WINAPI HostSetInternal(LPCWSTR name, LPCWSTR value);

} // extern "C"
