#include "jaeger/src/BlockCache.h"

#include <new>

#include <windows.h>

#include "jaeger/src/ThreadSlot.h"
#include "jaeger/src/UniqueResource.h"

namespace jaegertracing {

namespace {

// Blocks a thread keeps at most: 32 KB.
constexpr unsigned kMaxCachedBlocks = 64;

struct FreeBlock {
  FreeBlock* next;
};

// Blocks come from the process heap directly rather than the C run-time's (see freeHeapBlock).
void* heapAllocate(size_t size) { return HeapAlloc(GetProcessHeap(), 0, size); }

struct ThreadCache {
  ThreadCache() = default;
  ThreadCache(const ThreadCache&) = delete;
  ThreadCache& operator=(const ThreadCache&) = delete;
  ~ThreadCache() {
    while (FreeBlock* block = head) {
      head = block->next;
      freeHeapBlock(block);
    }
  }

  FreeBlock* head = nullptr;
  unsigned count = 0;
};

// Released at each thread's end. Blocks are taken only for tracers and their spans, and making
// a tracer pins the library first, so the code that releases them stays mapped.
ThreadCache* threadCache(bool create) {
  static ThreadSlot<ThreadCache> caches;
  return caches.get(create);
}

}  // namespace

void* allocateBlock(size_t size) {
  if (size <= kBlockSize) {
    if (ThreadCache* cache = threadCache(true)) {
      if (FreeBlock* block = cache->head) {
        cache->head = block->next;
        --cache->count;
        return block;
      }
    }
    size = kBlockSize;
  }
  void* block = heapAllocate(size);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}

void freeBlock(void* block, size_t size) noexcept {
  if (block == nullptr) return;
  if (size <= kBlockSize) {
    ThreadCache* cache = threadCache(false);
    if (cache != nullptr && cache->count < kMaxCachedBlocks) {
      cache->head = new (block) FreeBlock{cache->head};
      ++cache->count;
      return;
    }
  }
  freeHeapBlock(block);
}

}  // namespace jaegertracing
