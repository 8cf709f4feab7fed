// The hooks of the module's test build, exported for the tests: its heap
// allocations and its calls to Windows, counted and made to fail on demand,
// once or from a call on, and the calls on a file handle held to Windows'
// own access rules where wine is more lenient. The shipped module has
// neither these exports nor the counting behind them.
#include <windows.h>

#include <cstring>

#include "escape/scratch.h"
#include "plugin/os.h"

namespace {

const char* const kOperationNames[] = {
#define IVRO_OPERATION(name) #name,
    IVRO_OS_OPERATIONS(IVRO_OPERATION)
#undef IVRO_OPERATION
};
static_assert(sizeof kOperationNames / sizeof *kOperationNames == OS_OPERATION_COUNT, "one name a call");

// What a test armed: the `countdown`-th call of `operation` from now fails
// with `error` (and, where it `persists`, every later call too: a disk that
// fails keeps failing) or, with a `step`, has that step of the test's own run
// just before it (another handle writing to the file in between, say). For
// WriteFile, `bytes` of zero or more first puts in that many bytes (at most
// the write's), and an `error` of 0 then reports success; for ReadFile, it
// first reads that many, and the read then fails with `error`. A few may be
// armed at once, for the same operation too.
struct Armed {
    int operation;
    long countdown; // 0: a free place
    DWORD error;
    long bytes;
    void(WINAPI* step)();
    bool persists;
    bool reached;
};

constexpr int kMostArmed = 8;
Armed g_armed[kMostArmed];
long g_calls[OS_OPERATION_COUNT];
// The write that a countdown reached is to be cut short as this says; the
// same for a read.
Armed g_cut;
bool g_cutDue = false;
Armed g_readCut;
bool g_readCutDue = false;

int OperationIndex(const char* name)
{
    for (int i = 0; name != nullptr && i < OS_OPERATION_COUNT; ++i)
        if (std::strcmp(name, kOperationNames[i]) == 0)
            return i;
    return -1;
}

// Arms `armed` in a free place: 0, or -2 when every place is taken.
int Arm(const Armed& armed)
{
    for (Armed& place : g_armed)
        if (place.countdown <= 0) {
            place = armed;
            return 0;
        }
    return -2;
}

// Windows' rules for a call on a file handle, by the rights the handle was
// opened with: CreateFileW's access, its generic rights mapped to a file's
// (GENERIC_READ to FILE_GENERIC_READ, GENERIC_WRITE to FILE_GENERIC_WRITE),
// and FILE_READ_ATTRIBUTES and SYNCHRONIZE, which CreateFileW adds to every
// handle it opens. Wine 8 is more lenient: a handle that only appends may
// cut the file there. One row for each operation of the seam.
struct AccessRule {
    OsOperation operation;
    DWORD needs; // any one of these rights; 0: none (or no file handle)
    const char* rule;
};

constexpr AccessRule kWindowsRules[] = {
    {OP_ReadFile, FILE_READ_DATA, "ReadFile: the handle needs GENERIC_READ"},
    {OP_WriteFile, FILE_WRITE_DATA | FILE_APPEND_DATA,
     "WriteFile: GENERIC_WRITE or FILE_APPEND_DATA; a handle with FILE_APPEND_DATA and not FILE_WRITE_DATA writes "
     "at the end of the file whatever its position, and stands just after what it wrote"},
    {OP_SetEndOfFile, FILE_WRITE_DATA,
     "SetEndOfFile: GENERIC_WRITE; the end of the file is set with FILE_WRITE_DATA, which appending alone lacks"},
    {OP_GetFileInformationByHandle, FILE_READ_ATTRIBUTES,
     "GetFileInformationByHandle: FILE_READ_ATTRIBUTES, which every handle of CreateFileW has"},
    {OP_GetConsoleMode, FILE_READ_DATA, "GetConsoleMode: the console handle needs GENERIC_READ"},
    {OP_SetFilePointerEx, 0, "SetFilePointerEx: the position needs no right"},
    {OP_GetFileType, 0, "GetFileType: needs no right"},
    {OP_CloseHandle, 0, "CloseHandle: needs no right"},
    {OP_GetStdHandle, 0, "GetStdHandle: no handle is used"},
    {OP_SetStdHandle, 0, "SetStdHandle: the handle is kept, not used"},
    {OP_CreateFileW, 0, "CreateFileW: opens a handle with the rights asked for, as the file allows"},
    {OP_WideCharToMultiByte, 0, "WideCharToMultiByte: no handle"},
    {OP_GetEnvironmentVariableW, 0, "GetEnvironmentVariableW: no handle"},
    {OP_GetModuleFileNameW, 0, "GetModuleFileNameW: no handle"},
    {OP_GetSystemWindowsDirectoryW, 0, "GetSystemWindowsDirectoryW: no handle"},
    {OP_GetSystemDirectoryW, 0, "GetSystemDirectoryW: no handle"},
    {OP_GetFileAttributesW, 0, "GetFileAttributesW: no handle"},
    {OP_CreateProcessW, 0, "CreateProcessW: no file handle"},
    {OP_TerminateProcess, 0, "TerminateProcess: a process handle, not a file's"},
};

constexpr bool EveryOperationRuled()
{
    for (int operation = 0; operation < OS_OPERATION_COUNT; ++operation) {
        int rows = 0;
        for (const AccessRule& rule : kWindowsRules)
            rows += rule.operation == operation;
        if (rows != 1)
            return false;
    }
    return true;
}
static_assert(EveryOperationRuled(), "one rule for each operation of the seam");

constexpr DWORD kUnknown = 0;

// The rights a handle has under Windows' rules: those named by the test, and
// those the module's own CreateFileW asked for.
struct Rights {
    HANDLE handle;
    DWORD rights;
};
Rights g_rights[8];

DWORD FileRights(DWORD access)
{
    DWORD rights = access & ~(GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL);
    if ((access & (GENERIC_READ | GENERIC_ALL)) != 0)
        rights |= FILE_GENERIC_READ;
    if ((access & (GENERIC_WRITE | GENERIC_ALL)) != 0)
        rights |= FILE_GENERIC_WRITE;
    return rights | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
}

// Names (or, with kUnknown, forgets) the access `handle` was opened with:
// 0, or -2 when no place is free.
int NameAccess(HANDLE handle, DWORD access)
{
    Rights* free = nullptr;
    for (Rights& place : g_rights) {
        if (place.handle == handle) {
            place.rights = access == kUnknown ? kUnknown : FileRights(access);
            place.handle = access == kUnknown ? nullptr : handle;
            return 0;
        }
        if (place.handle == nullptr && free == nullptr)
            free = &place;
    }
    if (access == kUnknown)
        return 0;
    if (free == nullptr)
        return -2;
    *free = Rights{handle, FileRights(access)};
    return 0;
}

bool g_windowsRules = false;

// Whether Windows refuses the call on `handle`, the error then set. A write
// that a handle which only appends makes goes to the end of the file first.
bool RefusedByTheRules(OsOperation operation, HANDLE handle)
{
    if (!g_windowsRules || handle == nullptr)
        return false;
    DWORD rights = kUnknown;
    for (const Rights& place : g_rights)
        if (place.handle == handle)
            rights = place.rights;
    if (rights == kUnknown)
        return false;
    for (const AccessRule& rule : kWindowsRules) {
        if (rule.operation == operation && rule.needs != 0 && (rights & rule.needs) == 0) {
            SetLastError(ERROR_ACCESS_DENIED);
            return true;
        }
    }
    if (operation == OP_WriteFile && (rights & FILE_WRITE_DATA) == 0)
        SetFilePointerEx(handle, LARGE_INTEGER{}, nullptr, FILE_END);
    return false;
}

} // namespace

bool OsCallFails(OsOperation operation, HANDLE handle)
{
    ++g_calls[operation];
    bool fails = false;
    for (Armed& armed : g_armed) {
        if (armed.operation != operation || armed.countdown <= 0)
            continue;
        if (armed.countdown > 1) {
            --armed.countdown;
            continue;
        }
        armed.reached = true;
        if (!armed.persists)
            armed.countdown = 0;
        if (armed.step != nullptr) {
            armed.step();
        } else if (operation == OP_WriteFile && armed.bytes >= 0) {
            g_cut = armed;
            g_cutDue = true;
        } else if (operation == OP_ReadFile && armed.bytes >= 0) {
            g_readCut = armed;
            g_readCutDue = true;
        } else {
            SetLastError(armed.error);
            fails = true;
        }
    }
    if (!fails)
        fails = RefusedByTheRules(operation, handle);
    if (fails) {
        // A call that fails puts nothing in and reads nothing: a cut armed
        // for it is not carried to the next one.
        g_cutDue = g_cutDue && operation != OP_WriteFile;
        g_readCutDue = g_readCutDue && operation != OP_ReadFile;
    }
    return fails;
}

void OsHandleOpened(HANDLE handle, DWORD access)
{
    if (handle != INVALID_HANDLE_VALUE)
        NameAccess(handle, access);
}

void OsHandleClosed(HANDLE handle) { NameAccess(handle, kUnknown); }

namespace {

// A cut that a countdown made due: `io` puts through the first bytes, at
// most `cut.bytes` of `size` (0: none), and the call then reports success or
// `cut.error`; a failed read reports no bytes, a failed write the bytes it
// put in. False when no cut is due.
template <typename Io>
bool Cut(bool* due, const Armed& cut, DWORD size, bool failedCountsNone, DWORD* done, BOOL* result, Io io)
{
    if (!*due)
        return false;
    *due = false;
    const DWORD part = DWORD(cut.bytes) < size ? DWORD(cut.bytes) : size;
    *done = 0;
    *result = part == 0 || io(part);
    if (*result && cut.error != 0) {
        SetLastError(cut.error);
        if (failedCountsNone)
            *done = 0;
        *result = FALSE;
    }
    return true;
}

} // namespace

bool OsWriteCut(HANDLE file, const void* bytes, DWORD size, DWORD* written, OVERLAPPED* overlapped, BOOL* result)
{
    return Cut(&g_cutDue, g_cut, size, false, written, result,
               [&](DWORD part) { return WriteFile(file, bytes, part, written, overlapped) != 0; });
}

bool OsReadCut(HANDLE file, void* bytes, DWORD size, DWORD* read, OVERLAPPED* overlapped, BOOL* result)
{
    return Cut(&g_readCutDue, g_readCut, size, true, read, result,
               [&](DWORD part) { return ReadFile(file, bytes, part, read, overlapped) != 0; });
}

extern "C" {

void WINAPI IvroScratchFailAt(long n) { ScratchFailAt(n); }

void WINAPI IvroScratchCounts(long* allocations, long* frees)
{
    *allocations = ScratchAllocations();
    *frees = ScratchFrees();
}

// The name of the i-th operation of the module's calls to Windows, or null.
const char* WINAPI IvroOsOperation(int i)
{
    return i >= 0 && i < OS_OPERATION_COUNT ? kOperationNames[i] : nullptr;
}

// Arms the n-th call from now of `operation` to fail with `error` (see
// Armed); n 0 disarms every failure and step armed for it, and a null
// operation disarms everything. -1 for a name that is not an operation, -2
// when too many are armed.
int WINAPI IvroFailCall(const char* operation, long n, DWORD error, long bytes)
{
    if (operation == nullptr) {
        std::memset(g_armed, 0, sizeof g_armed);
        g_cutDue = false;
        g_readCutDue = false;
        return 0;
    }
    const int i = OperationIndex(operation);
    if (i < 0)
        return -1;
    if (n == 0) {
        for (Armed& armed : g_armed)
            if (armed.operation == i)
                armed.countdown = 0;
        return 0;
    }
    return Arm(Armed{i, n, error, bytes, nullptr, false, false});
}

// Arms the n-th call from now of `operation` and every later one to fail
// with `error`, until disarmed; -1 for a name that is not an operation, -2
// when too many are armed.
int WINAPI IvroFailCallsFrom(const char* operation, long n, DWORD error)
{
    const int i = OperationIndex(operation);
    if (i < 0)
        return -1;
    return n <= 0 ? -1 : Arm(Armed{i, n, error, -1, nullptr, true, false});
}

// Has the calls on file handles follow Windows' access rules (kWindowsRules)
// or, with 0, wine's own. The rules need a handle's access: `handle` was
// opened with `access` (CreateFileW's); the module's own handles are known
// from their opening. A null handle forgets every handle named. -2 when
// too many are named.
int WINAPI IvroWindowsRules(BOOL windows, HANDLE handle, DWORD access)
{
    g_windowsRules = windows != 0;
    if (handle == nullptr) {
        std::memset(g_rights, 0, sizeof g_rights);
        return 0;
    }
    return NameAccess(handle, access);
}

// Has `step` run just before the n-th call from now of `operation`; -1 for a
// name that is not an operation, -2 when too many are armed.
int WINAPI IvroInterpose(const char* operation, long n, void(WINAPI* step)())
{
    const int i = OperationIndex(operation);
    if (i < 0)
        return -1;
    return Arm(Armed{i, n, 0, -1, step, false, false});
}

// How often `operation` has been called since the module was loaded; -1 for
// a name that is not an operation.
long WINAPI IvroOsCalls(const char* operation)
{
    const int i = OperationIndex(operation);
    return i < 0 ? -1 : g_calls[i];
}

// How many armed failures and steps have not been reached yet.
long WINAPI IvroFaultsPending()
{
    long pending = 0;
    for (const Armed& armed : g_armed)
        pending += armed.countdown > 0 && !armed.reached;
    return pending;
}

} // extern "C"
