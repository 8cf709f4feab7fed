// Heap scratch for the working buffers of the engine and the functions. Every
// buffer taken here is given back before the routine that took it returns.
#pragma once

#include <cstddef>

void* ScratchAlloc(size_t bytes); // null when the heap refuses
void ScratchFree(void* block);    // null is ignored

#ifdef IVRO_ALLOC_TESTING
// Test builds only: the n-th allocation from now fails (0: none fails), and
// the allocations and frees made so far are counted.
void ScratchFailAt(long n);
long ScratchAllocations();
long ScratchFrees();
#endif
