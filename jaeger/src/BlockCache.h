#pragma once
// Spans and their tag arrays come from a small cache of equal blocks kept per thread. Under Wine
// the process heap serialises every thread on one lock, which made two threads tracing at once
// five times slower per allocation; a thread that creates and ends its own spans now reuses
// its own blocks.

#include <cstddef>
#include <new>

namespace jaegertracing {

constexpr size_t kBlockSize = 512;

// A block of at least size bytes; sizes above kBlockSize come from the heap as they are.
void* allocateBlock(size_t size);
// Gives back a block from allocateBlock of the same size.
void freeBlock(void* block, size_t size) noexcept;

// For containers whose storage usually fits one block.
template <typename T>
struct BlockAllocator {
  using value_type = T;
  BlockAllocator() = default;
  template <typename U>
  BlockAllocator(const BlockAllocator<U>&) noexcept {}
  T* allocate(size_t n) {
    if (n > static_cast<size_t>(-1) / sizeof(T)) throw std::bad_alloc();
    return static_cast<T*>(allocateBlock(n * sizeof(T)));
  }
  void deallocate(T* p, size_t n) noexcept { freeBlock(p, n * sizeof(T)); }
  template <typename U>
  bool operator==(const BlockAllocator<U>&) const noexcept { return true; }
  template <typename U>
  bool operator!=(const BlockAllocator<U>&) const noexcept { return false; }
};

}  // namespace jaegertracing
