// The hooks of the module's test build, exported for the tests: its heap
// allocations and its calls to Windows, counted and made to fail on demand.
// The shipped module has neither these exports nor the counting behind them.
#include <windows.h>

#include <cstring>

#include "escape/scratch.h"
#include "plugin/platform.h"

namespace {

const char* const kOperationNames[] = {
#define IVRO_OPERATION(name) #name,
    IVRO_PLATFORM_OPERATIONS(IVRO_OPERATION)
#undef IVRO_OPERATION
};
static_assert(sizeof kOperationNames / sizeof *kOperationNames == PLATFORM_OPERATION_COUNT, "one name a call");

// What a test armed: the `countdown`-th call of `operation` from now fails
// with `error` or, with a `step`, has that step of the test's own run just
// before it (another handle writing to the file in between, say). For
// WriteFile, `bytes` of zero or more first puts in that many bytes (at most
// the write's), and an `error` of 0 then reports success; for ReadFile, it
// first reads that many, and the read then fails with `error`. A few may be armed
// at once, for the same operation too.
struct Armed {
    int operation;
    long countdown;
    DWORD error;
    long bytes;
    void(WINAPI* step)();
};

constexpr int kMostArmed = 8;
Armed g_armed[kMostArmed];
long g_calls[PLATFORM_OPERATION_COUNT];
// The write that a countdown reached is to be cut short as this says; the
// same for a read.
Armed g_cut;
bool g_cutDue = false;
Armed g_readCut;
bool g_readCutDue = false;

int OperationIndex(const char* name)
{
    for (int i = 0; name != nullptr && i < PLATFORM_OPERATION_COUNT; ++i)
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

} // namespace

bool PlatformCallFails(PlatformOperation operation)
{
    ++g_calls[operation];
    bool fails = false;
    for (Armed& armed : g_armed) {
        if (armed.operation != operation || armed.countdown <= 0 || --armed.countdown > 0)
            continue;
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
    return fails;
}

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

bool PlatformWriteCut(HANDLE file, const void* bytes, DWORD size, DWORD* written, OVERLAPPED* overlapped,
                      BOOL* result)
{
    return Cut(&g_cutDue, g_cut, size, false, written, result,
               [&](DWORD part) { return WriteFile(file, bytes, part, written, overlapped) != 0; });
}

bool PlatformReadCut(HANDLE file, void* bytes, DWORD size, DWORD* read, OVERLAPPED* overlapped, BOOL* result)
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
const char* WINAPI IvroPlatformOperation(int i)
{
    return i >= 0 && i < PLATFORM_OPERATION_COUNT ? kOperationNames[i] : nullptr;
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
    return Arm(Armed{i, n, error, bytes, nullptr});
}

// Has `step` run just before the n-th call from now of `operation`; -1 for a
// name that is not an operation, -2 when too many are armed.
int WINAPI IvroInterpose(const char* operation, long n, void(WINAPI* step)())
{
    const int i = OperationIndex(operation);
    if (i < 0)
        return -1;
    return Arm(Armed{i, n, 0, -1, step});
}

// How often `operation` has been called since the module was loaded; -1 for
// a name that is not an operation.
long WINAPI IvroPlatformCalls(const char* operation)
{
    const int i = OperationIndex(operation);
    return i < 0 ? -1 : g_calls[i];
}

// How many armed failures and steps have not been reached yet.
long WINAPI IvroFaultsPending()
{
    long pending = 0;
    for (const Armed& armed : g_armed)
        pending += armed.countdown > 0;
    return pending;
}

} // extern "C"
