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

// A failure armed for one operation: its `countdown`-th call from now fails
// with `error`. For WriteFile, `bytes` of zero or more first puts in that
// many bytes (at most the write's), and an `error` of 0 then reports success.
struct Fault {
    long countdown;
    DWORD error;
    long bytes;
};

Fault g_faults[PLATFORM_OPERATION_COUNT];
long g_calls[PLATFORM_OPERATION_COUNT];
// The WriteFile call that the countdown reached is to be cut short.
bool g_cutDue = false;

int OperationIndex(const char* name)
{
    for (int i = 0; name != nullptr && i < PLATFORM_OPERATION_COUNT; ++i)
        if (std::strcmp(name, kOperationNames[i]) == 0)
            return i;
    return -1;
}

} // namespace

bool PlatformCallFails(PlatformOperation operation)
{
    ++g_calls[operation];
    Fault& fault = g_faults[operation];
    if (fault.countdown <= 0 || --fault.countdown > 0)
        return false;
    if (operation == OP_WriteFile && fault.bytes >= 0) {
        g_cutDue = true;
        return false;
    }
    SetLastError(fault.error);
    return true;
}

bool PlatformWriteCut(HANDLE file, const void* bytes, DWORD size, DWORD* written, OVERLAPPED* overlapped,
                      BOOL* result)
{
    if (!g_cutDue)
        return false;
    g_cutDue = false;
    const Fault& fault = g_faults[OP_WriteFile];
    const DWORD part = DWORD(fault.bytes) < size ? DWORD(fault.bytes) : size;
    *written = 0;
    *result = part == 0 || WriteFile(file, bytes, part, written, overlapped);
    if (*result && fault.error != 0) {
        SetLastError(fault.error);
        *result = FALSE;
    }
    return true;
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

// Arms the n-th call from now of `operation` to fail with `error` (see Fault);
// n 0 disarms it, and a null operation disarms every one. -1 for a name that
// is not an operation.
int WINAPI IvroFailCall(const char* operation, long n, DWORD error, long bytes)
{
    if (operation == nullptr) {
        std::memset(g_faults, 0, sizeof g_faults);
        g_cutDue = false;
        return 0;
    }
    const int i = OperationIndex(operation);
    if (i < 0)
        return -1;
    g_faults[i] = Fault{n, error, bytes};
    return 0;
}

// How often `operation` has been called since the module was loaded; -1 for
// a name that is not an operation.
long WINAPI IvroPlatformCalls(const char* operation)
{
    const int i = OperationIndex(operation);
    return i < 0 ? -1 : g_calls[i];
}

// How many armed failures have not been reached yet.
long WINAPI IvroFaultsPending()
{
    long pending = 0;
    for (const Fault& fault : g_faults)
        pending += fault.countdown > 0;
    return pending;
}

} // extern "C"
