#include "escape/scratch.h"

#include <cstdlib>

void* ScratchAlloc(size_t bytes) { return std::malloc(bytes); }

void ScratchFree(void* block) { std::free(block); }
