#include "escape/scratch.h"

#include <cstdlib>

#ifndef IVRO_ALLOC_TESTING

void* ScratchAlloc(size_t bytes) { return std::malloc(bytes); }

void ScratchFree(void* block) { std::free(block); }

#else

#include <atomic>

namespace {
// Set by a test while no other thread calls the engine.
long g_failAt = 0;
// Counted from any thread: a test calls the engine from several at once.
std::atomic<long> g_allocations{0};
std::atomic<long> g_frees{0};
} // namespace

void* ScratchAlloc(size_t bytes)
{
    if (g_failAt > 0 && --g_failAt == 0)
        return nullptr;
    void* block = std::malloc(bytes);
    if (block != nullptr)
        ++g_allocations;
    return block;
}

void ScratchFree(void* block)
{
    if (block != nullptr)
        ++g_frees;
    std::free(block);
}

void ScratchFailAt(long n) { g_failAt = n; }

long ScratchAllocations() { return g_allocations; }

long ScratchFrees() { return g_frees; }

#endif
