#pragma once
// An object of each thread's own, made on the thread's first use and destroyed at its end.
// Looking it up goes through a thread-local slot, a read of the thread's own block, where a
// fiber-local one goes through the fiber's data; a fiber-local slot only carries the destructor,
// since thread-local slots have none.
// The objects live on the process heap rather than the C run-time's, so that a thread ending
// after the run-time has shut down can still free its own.

#include <new>
#include <type_traits>

#include <windows.h>

#include "jaeger/src/ReporterLifecycle.h"
#include "jaeger/src/UniqueResource.h"

namespace jaegertracing {

template <typename T>
class ThreadSlot {
  static_assert(std::is_nothrow_default_constructible<T>::value, "made where nothing may throw");

 public:
  ThreadSlot() : _tls(TlsAlloc()), _fls(FlsAlloc(&destroy)) {}
  ThreadSlot(const ThreadSlot&) = delete;
  ThreadSlot& operator=(const ThreadSlot&) = delete;

  // This thread's object; with create, made when there is none yet. Null when there is none, or
  // no slot or memory was left for it.
  T* get(bool create) noexcept {
    if (auto* owned = static_cast<Owned*>(TlsGetValue(_tls))) return &owned->value;
    if (!create || _tls == TLS_OUT_OF_INDEXES || _fls == FLS_OUT_OF_INDEXES) return nullptr;
    UniqueHeapBlock memory(HeapAlloc(GetProcessHeap(), 0, sizeof(Owned)));
    if (!memory) return nullptr;
    auto* owned = new (memory.get()) Owned{T(), _tls};
    if (!FlsSetValue(_fls, owned) || !TlsSetValue(_tls, owned)) {
      FlsSetValue(_fls, nullptr);
      return nullptr;
    }
    memory.release();
    return &owned->value;
  }

 private:
  struct Owned {
    T value;
    DWORD tls;
  };

  // Runs on the ending thread (or where its fiber is deleted), which then has no object. At the
  // end of the process the exiting thread's object stays: a thread stopped by ExitProcess may
  // hold the heap's lock.
  static void WINAPI destroy(void* data) {
    auto* owned = static_cast<Owned*>(data);
    if (owned == nullptr || processEnding()) return;
    if (TlsGetValue(owned->tls) == owned) TlsSetValue(owned->tls, nullptr);
    owned->~Owned();
    freeHeapBlock(owned);
  }

  const DWORD _tls;
  const DWORD _fls;
};

}  // namespace jaegertracing
