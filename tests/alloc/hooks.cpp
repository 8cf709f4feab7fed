// The allocation hooks of the module's test build, exported for the tests.
// The shipped module has neither these exports nor the counting behind them.
#include <windows.h>

#include "escape/scratch.h"

extern "C" {

void WINAPI IvroScratchFailAt(long n) { ScratchFailAt(n); }

void WINAPI IvroScratchCounts(long* allocations, long* frees)
{
    *allocations = ScratchAllocations();
    *frees = ScratchFrees();
}

} // extern "C"
