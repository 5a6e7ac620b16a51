#pragma once
// The tracing driver's process-wide state, shared by every module of the process through the
// execute context. Modules built separately read and write it, so its layout is fixed.

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "driver/LibraryPtr.h"
#include "platform/UniqueHandle.h"
#include "provider/providerEntryPoints.h"

struct OpenTracingDriverState {
  // Decides once, here, whether the process traces; nothing is loaded until the first span.
  OpenTracingDriverState();
  // Ends the tracer while the provider is still loaded, then frees the provider. Never raises.
  ~OpenTracingDriverState();

  OpenTracingDriverState(const OpenTracingDriverState&) = delete;
  OpenTracingDriverState& operator=(const OpenTracingDriverState&) = delete;

  // A new span of the provider; loads the provider and creates its tracer on the first call.
  // Null when tracing was switched off meanwhile. Raises whatever loading or the provider
  // raises. Serialised by lock.
  std::unique_ptr<OpenTracingDriver::ISpanContextProvider> startSpan(const std::string& function, int32_t line,
                                                                       const std::string& name);

  // Writes the calling thread's current span (the root span on a thread without one) into the
  // environment for the child processes started afterwards; loads the provider and creates its
  // tracer when no span was started yet. Does nothing when tracing was switched off meanwhile.
  // Raises whatever loading or the provider raises. Serialised by lock with span starts, so the
  // root span an injection may create is made once.
  void injectSpan();

  // Switches tracing off for the process and ends the tracer (its root span and the wait for its
  // last spans) while the provider stays loaded and the state stays valid: for a process that
  // ends while other threads may still trace. Waits at most 2 s for a span start in progress; a
  // thread stuck there (on the run-time's exit lock, while exit() calls this) keeps the tracer,
  // which the process's end then deals with. Never raises.
  void endTracing() noexcept;

  // Read and cleared without the lock; it only ever goes from set to clear.
  std::atomic<uint8_t> enabled;
  OpenTracingDriver::TracerPtr tracer;
  std::unique_ptr<RunTime::LibraryPtr> library;
  UniqueCriticalSection lock;
  // Valid once library is set; all three are resolved before any of them is stored.
  OpenTracingDriver::GetTracerFn getTracer = nullptr;
  OpenTracingDriver::GetSpanContextFn getSpanContext = nullptr;
  OpenTracingDriver::InjectCurrentSpanFn injectCurrentSpan = nullptr;

 private:
  // The provider loaded and its tracer made, on the first call. Called with lock held.
  void loadProvider();
};

static_assert(sizeof(std::atomic<uint8_t>) == 1 && std::atomic<uint8_t>::is_always_lock_free,
              "the enabled flag is one plain byte to other modules");
static_assert(sizeof(OpenTracingDriver::TracerPtr) == 8 && sizeof(std::unique_ptr<RunTime::LibraryPtr>) == 8 &&
                  sizeof(UniqueCriticalSection) == 8,
              "owning pointers are plain pointers to other modules");
// clang does not count libstdc++'s unique_ptr as standard-layout (its deleter is an empty base
// inside a tuple), although its only field is the pointer: there the offsets below alone check
// the layout, and offsetof is asked of a type it calls non-standard.
#if defined(__clang__)
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Winvalid-offsetof"
#else
static_assert(std::is_standard_layout_v<OpenTracingDriverState>, "the layout is shared between modules");
#endif
static_assert(offsetof(OpenTracingDriverState, enabled) == 0 && offsetof(OpenTracingDriverState, tracer) == 8 &&
                  offsetof(OpenTracingDriverState, library) == 16 && offsetof(OpenTracingDriverState, lock) == 24 &&
                  offsetof(OpenTracingDriverState, getTracer) == 32 &&
                  offsetof(OpenTracingDriverState, getSpanContext) == 40 &&
                  offsetof(OpenTracingDriverState, injectCurrentSpan) == 48 && sizeof(OpenTracingDriverState) == 56,
              "the layout is shared between modules");
#if defined(__clang__)
#pragma clang diagnostic pop
#endif
