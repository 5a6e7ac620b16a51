#pragma once
// Spans, their names and their encoded tags come from a small cache of equal blocks kept per
// thread: the process heap serialises threads on its lock, and a thread that creates and ends its
// own spans reuses its own blocks without taking it.

#include <cstddef>

namespace jaegertracing {

constexpr size_t kBlockSize = 512;

// A block of at least size bytes; sizes above kBlockSize come from the heap as they are.
void* allocateBlock(size_t size);
// Gives back a block from allocateBlock of the same size.
void freeBlock(void* block, size_t size) noexcept;

}  // namespace jaegertracing
