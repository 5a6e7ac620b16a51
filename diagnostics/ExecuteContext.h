#pragma once
// The process-wide state that every module of the product shares although each carries its own
// copy of the platform layer. Each module exports a slot holding its context pointer; the first
// module that needs the context adopts one that another module exported, or creates it. The
// context is reference-counted across modules and destroyed by the last one to let go.
// Modules built separately read and write the object, so its layout is fixed.

#include <atomic>
#include <cstddef>
#include <cstdint>

// Defined by the driver and the log core; the context only points at them.
struct OpenTracingDriverState;
struct LogSettings;

#if defined(_MSC_VER) || defined(__MINGW32__)
#define KESTRIN_EXPORT __declspec(dllexport)
#else
#define KESTRIN_EXPORT
#endif

struct ExecuteContext {
  OpenTracingDriverState* driverState;
  void* reserved;  // never set here; freed with the context when another module set it
  std::atomic<LogSettings*> logSettings;  // null until getLogSettings first runs
  std::atomic<uint64_t> referenceCount;   // one per module holding the context
};

static_assert(sizeof(std::atomic<LogSettings*>) == 8 && std::atomic<LogSettings*>::is_always_lock_free &&
                  sizeof(std::atomic<uint64_t>) == 8 && std::atomic<uint64_t>::is_always_lock_free,
              "atomic fields are plain words to other modules");
static_assert(std::is_standard_layout_v<ExecuteContext>, "the layout is shared between modules");
static_assert(offsetof(ExecuteContext, driverState) == 0 && offsetof(ExecuteContext, reserved) == 8 &&
                  offsetof(ExecuteContext, logSettings) == 16 && offsetof(ExecuteContext, referenceCount) == 24 &&
                  sizeof(ExecuteContext) == 32,
              "the layout is shared between modules");

// The name under which every module exports its slot.
constexpr const char* kExecuteContextSlotName = "m_ExecuteContext_4D93FADE_7B9E_4286_AE07_54AF471F7E22";

// This module's slot: null until the first getExecuteContext and again after the release.
extern "C" KESTRIN_EXPORT std::atomic<ExecuteContext*> m_ExecuteContext_4D93FADE_7B9E_4286_AE07_54AF471F7E22;

// The process's context: this module's own, adopted from another module, or created (which
// decides whether the process traces). The first call also registers releaseExecuteContext for
// this module's exit. Concurrent first calls within a module are serialised.
ExecuteContext* getExecuteContext();

// Gives this module's reference back; the last reference destroys the context with its driver
// state and log settings. Takes no lock in a library, so that it may run under the loader lock
// at unload. In the executable it runs in exit(), while other threads may still trace: the last
// reference there only ends tracing (the driver state's endTracing) and frees nothing.
void releaseExecuteContext();

// The context's log settings, created zeroed with an empty listener list on the first call.
LogSettings* getLogSettings(ExecuteContext* context);

// Whether the context's log settings exist yet.
bool hasLogSettings(const ExecuteContext* context);
