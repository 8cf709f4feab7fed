// The module's one way to Windows for what lies outside its own buffers:
// files and handles, processes, the environment, its own file name and the
// folders the help viewer is looked for in. Each Os function takes the
// arguments of the Windows function of the same name, calls it and adds
// nothing; nothing else in the module calls those functions. The shell's own
// operations go through plugin/host.h.
//
// In the module's test build (IVRO_FAULT_TESTING) each call is counted by
// its operation's name, and a test can make the n-th call of an operation
// fail with an error of its choosing (that call alone, or every call from
// it on), or have the n-th write put in only some of its bytes; calls on a
// file handle can be held to Windows' access rules where wine's are more
// lenient (tests/faults/hooks.cpp).
#pragma once

#include <windows.h>

// The operations, by the names of the Windows functions they call.
#define IVRO_OS_OPERATIONS(X)                                                                                    \
    X(GetStdHandle)                                                                                                    \
    X(SetStdHandle)                                                                                                    \
    X(CreateFileW)                                                                                                     \
    X(CloseHandle)                                                                                                     \
    X(GetFileType)                                                                                                     \
    X(GetFileInformationByHandle)                                                                                      \
    X(SetFilePointerEx)                                                                                                \
    X(SetEndOfFile)                                                                                                    \
    X(ReadFile)                                                                                                        \
    X(WriteFile)                                                                                                       \
    X(GetConsoleMode)                                                                                                  \
    X(WideCharToMultiByte)                                                                                             \
    X(GetEnvironmentVariableW)                                                                                         \
    X(GetModuleFileNameW)                                                                                              \
    X(GetSystemWindowsDirectoryW)                                                                                      \
    X(GetSystemDirectoryW)                                                                                             \
    X(GetFileAttributesW)                                                                                              \
    X(CreateProcessW)                                                                                                  \
    X(TerminateProcess)

enum OsOperation {
#define IVRO_OPERATION(name) OP_##name,
    IVRO_OS_OPERATIONS(IVRO_OPERATION)
#undef IVRO_OPERATION
        OS_OPERATION_COUNT
};

// Standard handles.
HANDLE OsGetStdHandle(DWORD which);
BOOL OsSetStdHandle(DWORD which, HANDLE handle);

// Files and handles.
HANDLE OsCreateFileW(LPCWSTR name, DWORD access, DWORD share, SECURITY_ATTRIBUTES* security, DWORD disposition,
                     DWORD flags, HANDLE model);
BOOL OsCloseHandle(HANDLE handle);
DWORD OsGetFileType(HANDLE file);
BOOL OsGetFileInformationByHandle(HANDLE file, BY_HANDLE_FILE_INFORMATION* info);
BOOL OsSetFilePointerEx(HANDLE file, LARGE_INTEGER distance, LARGE_INTEGER* position, DWORD method);
BOOL OsSetEndOfFile(HANDLE file);
BOOL OsReadFile(HANDLE file, void* bytes, DWORD size, DWORD* read, OVERLAPPED* overlapped);
BOOL OsWriteFile(HANDLE file, const void* bytes, DWORD size, DWORD* written, OVERLAPPED* overlapped);
BOOL OsGetConsoleMode(HANDLE console, DWORD* mode);
DWORD OsGetFileAttributesW(LPCWSTR path);

// Code pages.
int OsWideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR text, int units, LPSTR bytes, int size,
                          LPCSTR defaultChar, BOOL* usedDefault);

// The environment, the module's file and the system's folders.
DWORD OsGetEnvironmentVariableW(LPCWSTR name, LPWSTR value, DWORD units);
DWORD OsGetModuleFileNameW(HMODULE module, LPWSTR path, DWORD units);
UINT OsGetSystemWindowsDirectoryW(LPWSTR path, UINT units);
UINT OsGetSystemDirectoryW(LPWSTR path, UINT units);

// Processes.
BOOL OsCreateProcessW(LPCWSTR program, LPWSTR commandLine, SECURITY_ATTRIBUTES* processSecurity,
                      SECURITY_ATTRIBUTES* threadSecurity, BOOL inheritHandles, DWORD flags, void* environment,
                      LPCWSTR directory, STARTUPINFOW* startup, PROCESS_INFORMATION* process);
BOOL OsTerminateProcess(HANDLE process, UINT exitCode);

#ifdef IVRO_FAULT_TESTING
// Test build only, defined beside the test hooks: counts a call of
// `operation` (on `handle`, for a call on a file or device handle) and tells
// whether it is to fail, the last error then set.
bool OsCallFails(OsOperation operation, HANDLE handle = nullptr);
// A handle the module opened with `access`, and one it closed: the hooks
// hold calls on it to the rights it has.
void OsHandleOpened(HANDLE handle, DWORD access);
void OsHandleClosed(HANDLE handle);
// For a write: whether it is to be cut short. If so, the hook itself puts in
// the first bytes of the write and sets *written and *result as the write
// then reports them.
bool OsWriteCut(HANDLE file, const void* bytes, DWORD size, DWORD* written, OVERLAPPED* overlapped,
                BOOL* result);
// For a read: whether it is to read a part and then fail. If so, the hook
// itself reads the first bytes (the position moves past them) and sets
// *read and *result as the read then reports them.
bool OsReadCut(HANDLE file, void* bytes, DWORD size, DWORD* read, OVERLAPPED* overlapped, BOOL* result);
#endif
