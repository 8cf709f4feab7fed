#include "plugin/os.h"

// In the test build a call may be made to fail before it reaches Windows:
// the wrapper then returns what the Windows function returns on failure.
#ifdef IVRO_FAULT_TESTING
#define IVRO_FAIL_ON(operation, handle, failed)                                                                        \
    do {                                                                                                               \
        if (OsCallFails(OP_##operation, handle))                                                                       \
            return failed;                                                                                             \
    } while (0)
#else
#define IVRO_FAIL_ON(operation, handle, failed) ((void)0)
#endif
// A call that acts on no file or device handle.
#define IVRO_FAIL(operation, failed) IVRO_FAIL_ON(operation, nullptr, failed)

HANDLE OsGetStdHandle(DWORD which)
{
    IVRO_FAIL(GetStdHandle, INVALID_HANDLE_VALUE);
    return GetStdHandle(which);
}

BOOL OsSetStdHandle(DWORD which, HANDLE handle)
{
    IVRO_FAIL(SetStdHandle, FALSE);
    return SetStdHandle(which, handle);
}

HANDLE OsCreateFileW(LPCWSTR name, DWORD access, DWORD share, SECURITY_ATTRIBUTES* security, DWORD disposition,
                     DWORD flags, HANDLE model)
{
    IVRO_FAIL(CreateFileW, INVALID_HANDLE_VALUE);
    HANDLE handle = CreateFileW(name, access, share, security, disposition, flags, model);
#ifdef IVRO_FAULT_TESTING
    OsHandleOpened(handle, access);
#endif
    return handle;
}

BOOL OsCloseHandle(HANDLE handle)
{
    IVRO_FAIL_ON(CloseHandle, handle, FALSE);
#ifdef IVRO_FAULT_TESTING
    OsHandleClosed(handle);
#endif
    return CloseHandle(handle);
}

DWORD OsGetFileType(HANDLE file)
{
    IVRO_FAIL_ON(GetFileType, file, FILE_TYPE_UNKNOWN);
    return GetFileType(file);
}

BOOL OsGetFileInformationByHandle(HANDLE file, BY_HANDLE_FILE_INFORMATION* info)
{
    IVRO_FAIL_ON(GetFileInformationByHandle, file, FALSE);
    return GetFileInformationByHandle(file, info);
}

BOOL OsSetFilePointerEx(HANDLE file, LARGE_INTEGER distance, LARGE_INTEGER* position, DWORD method)
{
    IVRO_FAIL_ON(SetFilePointerEx, file, FALSE);
    return SetFilePointerEx(file, distance, position, method);
}

BOOL OsSetEndOfFile(HANDLE file)
{
    IVRO_FAIL_ON(SetEndOfFile, file, FALSE);
    return SetEndOfFile(file);
}

BOOL OsReadFile(HANDLE file, void* bytes, DWORD size, DWORD* read, OVERLAPPED* overlapped)
{
    IVRO_FAIL_ON(ReadFile, file, (*read = 0, FALSE));
#ifdef IVRO_FAULT_TESTING
    BOOL result;
    if (OsReadCut(file, bytes, size, read, overlapped, &result))
        return result;
#endif
    return ReadFile(file, bytes, size, read, overlapped);
}

BOOL OsWriteFile(HANDLE file, const void* bytes, DWORD size, DWORD* written, OVERLAPPED* overlapped)
{
    IVRO_FAIL_ON(WriteFile, file, (*written = 0, FALSE));
#ifdef IVRO_FAULT_TESTING
    BOOL result;
    if (OsWriteCut(file, bytes, size, written, overlapped, &result))
        return result;
#endif
    return WriteFile(file, bytes, size, written, overlapped);
}

BOOL OsGetConsoleMode(HANDLE console, DWORD* mode)
{
    IVRO_FAIL_ON(GetConsoleMode, console, FALSE);
    return GetConsoleMode(console, mode);
}

DWORD OsGetFileAttributesW(LPCWSTR path)
{
    IVRO_FAIL(GetFileAttributesW, INVALID_FILE_ATTRIBUTES);
    return GetFileAttributesW(path);
}

int OsWideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR text, int units, LPSTR bytes, int size,
                          LPCSTR defaultChar, BOOL* usedDefault)
{
    IVRO_FAIL(WideCharToMultiByte, 0);
    return WideCharToMultiByte(codePage, flags, text, units, bytes, size, defaultChar, usedDefault);
}

DWORD OsGetEnvironmentVariableW(LPCWSTR name, LPWSTR value, DWORD units)
{
    IVRO_FAIL(GetEnvironmentVariableW, 0);
    return GetEnvironmentVariableW(name, value, units);
}

DWORD OsGetModuleFileNameW(HMODULE module, LPWSTR path, DWORD units)
{
    IVRO_FAIL(GetModuleFileNameW, 0);
    return GetModuleFileNameW(module, path, units);
}

UINT OsGetSystemWindowsDirectoryW(LPWSTR path, UINT units)
{
    IVRO_FAIL(GetSystemWindowsDirectoryW, 0);
    return GetSystemWindowsDirectoryW(path, units);
}

UINT OsGetSystemDirectoryW(LPWSTR path, UINT units)
{
    IVRO_FAIL(GetSystemDirectoryW, 0);
    return GetSystemDirectoryW(path, units);
}

BOOL OsCreateProcessW(LPCWSTR program, LPWSTR commandLine, SECURITY_ATTRIBUTES* processSecurity,
                      SECURITY_ATTRIBUTES* threadSecurity, BOOL inheritHandles, DWORD flags, void* environment,
                      LPCWSTR directory, STARTUPINFOW* startup, PROCESS_INFORMATION* process)
{
    IVRO_FAIL(CreateProcessW, FALSE);
    return CreateProcessW(program, commandLine, processSecurity, threadSecurity, inheritHandles, flags, environment,
                          directory, startup, process);
}

BOOL OsTerminateProcess(HANDLE process, UINT exitCode)
{
    IVRO_FAIL(TerminateProcess, FALSE);
    return TerminateProcess(process, exitCode);
}
