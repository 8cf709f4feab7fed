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

// Scratch for one T (a plain struct of buffers) for the length of a scope:
// taken on construction, given back on destruction; false when the heap
// refused it. The block is not initialised.
template <class T>
class Scratch {
public:
    Scratch() : block_(static_cast<T*>(ScratchAlloc(sizeof(T)))) {}
    ~Scratch() { ScratchFree(block_); }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;

    explicit operator bool() const { return block_ != nullptr; }
    T* operator->() const { return block_; }
    T& operator*() const { return *block_; }

private:
    T* block_;
};
