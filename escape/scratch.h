// Heap scratch for the engine's working buffers. Every buffer taken here is
// given back before the routine that took it returns.
#pragma once

#include <cstddef>

void* ScratchAlloc(size_t bytes); // null when the heap refuses
void ScratchFree(void* block);    // null is ignored
