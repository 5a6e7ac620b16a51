#include "provider/currentSpan.h"

#include <new>

#include <windows.h>

#include "provider/loadOrder.h"

namespace {

// A fiber-local slot with a destructor rather than a C++ thread_local: MinGW runs the destructors
// of thread_local objects in DLLs after their emulated storage may already be freed, so a span
// left current at thread exit was ended through a dangling pointer. The system calls this
// callback at thread exit, before the thread's storage goes.
void WINAPI endThreadsSpan(void* slot) { delete static_cast<std::unique_ptr<opentracing::Span>*>(slot); }

// Unloading the provider frees the slot, which ends the spans still current on other threads
// now: later thread exits must not call back into the unloaded code.
struct SpanSlot {
  const DWORD index = FlsAlloc(endThreadsSpan);
  ~SpanSlot() {
    if (index != FLS_OUT_OF_INDEXES) FlsFree(index);
  }
};
KESTRIN_LOAD_ORDER_CURRENT_SPAN SpanSlot spanSlot;

}  // namespace

std::unique_ptr<opentracing::Span>& currentSpan() {
  auto* slot = static_cast<std::unique_ptr<opentracing::Span>*>(FlsGetValue(spanSlot.index));
  if (!slot) {
    if (spanSlot.index == FLS_OUT_OF_INDEXES) throw std::bad_alloc();
    slot = new std::unique_ptr<opentracing::Span>();
    if (!FlsSetValue(spanSlot.index, slot)) {
      delete slot;
      throw std::bad_alloc();
    }
  }
  return *slot;
}
