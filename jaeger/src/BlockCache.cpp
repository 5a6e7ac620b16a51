#include "jaeger/src/BlockCache.h"

#include <windows.h>

namespace jaegertracing {

namespace {

// Blocks a thread keeps at most: 32 KB.
constexpr unsigned kMaxCachedBlocks = 64;

struct FreeBlock {
  FreeBlock* next;
};

struct ThreadCache {
  FreeBlock* head = nullptr;
  unsigned count = 0;
};

// Blocks come from the process heap directly rather than the C run-time's, so that a thread
// ending after the run-time has shut down can still give its cache back.
void* heapAllocate(size_t size) { return HeapAlloc(GetProcessHeap(), 0, size); }
void heapFree(void* block) { HeapFree(GetProcessHeap(), 0, block); }

// Runs at each thread's end, from the fiber-local slot. Blocks are taken only for tracers and
// their spans, and making a tracer pins the library first, so the callback stays mapped.
void WINAPI releaseCache(void* data) {
  auto* cache = static_cast<ThreadCache*>(data);
  if (cache == nullptr) return;
  while (FreeBlock* block = cache->head) {
    cache->head = block->next;
    heapFree(block);
  }
  heapFree(cache);
}

DWORD cacheSlot() {
  static const DWORD slot = FlsAlloc(releaseCache);
  return slot;
}

// This thread's cache, created on first use; null when no slot or memory is left.
ThreadCache* threadCache(bool create) {
  const DWORD slot = cacheSlot();
  if (slot == FLS_OUT_OF_INDEXES) return nullptr;
  auto* cache = static_cast<ThreadCache*>(FlsGetValue(slot));
  if (cache != nullptr || !create) return cache;
  void* memory = heapAllocate(sizeof(ThreadCache));
  if (memory == nullptr) return nullptr;
  cache = new (memory) ThreadCache;
  if (!FlsSetValue(slot, cache)) {
    heapFree(memory);
    return nullptr;
  }
  return cache;
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
  heapFree(block);
}

}  // namespace jaegertracing
