#include "diagnostics/ExecuteContext.h"

#include <windows.h>
#include <psapi.h>

#include <cstdlib>
#include <memory>
#include <vector>

#include "diagnostics/LogSettings.h"
#include "driver/OpenTracingDriverState.h"
#include "platform/ScopedLock.h"
#include "platform/processEnding.h"

static_assert(sizeof(std::atomic<ExecuteContext*>) == sizeof(ExecuteContext*) &&
                  std::atomic<ExecuteContext*>::is_always_lock_free,
              "other modules read the slot as a plain pointer");

KESTRIN_EXPORT std::atomic<ExecuteContext*> m_ExecuteContext_4D93FADE_7B9E_4286_AE07_54AF471F7E22{nullptr};

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace {

std::atomic<ExecuteContext*>& ownSlot() { return m_ExecuteContext_4D93FADE_7B9E_4286_AE07_54AF471F7E22; }

// Statically initialised and never destroyed, so it is usable at any point of load and unload.
SRWLOCK firstCallLock = SRWLOCK_INIT;

// Every module of the process, in load order. Modules may be loaded between two enumerations,
// so the buffer grows until one enumeration fits; an empty list when the system refuses.
std::vector<HMODULE> processModules() {
  std::vector<HMODULE> modules(256);
  for (;;) {
    const DWORD offered = static_cast<DWORD>(modules.size() * sizeof(HMODULE));
    DWORD needed = 0;
    if (!K32EnumProcessModules(GetCurrentProcess(), modules.data(), offered, &needed)) return {};
    modules.resize(needed / sizeof(HMODULE));
    if (needed <= offered) return modules;
  }
}

// The first context another module of the process exported; null when none has one.
ExecuteContext* exportedContext() {
  for (HMODULE module : processModules()) {
    const FARPROC address = GetProcAddress(module, kExecuteContextSlotName);
    if (address == nullptr) continue;
    ExecuteContext* context = *reinterpret_cast<ExecuteContext* volatile*>(reinterpret_cast<void*>(address));
    if (context != nullptr) return context;
  }
  return nullptr;
}

ExecuteContext* adoptOrCreate() {
  ExecuteContext* context = nullptr;
  try {
    context = exportedContext();
  } catch (...) {
    context = nullptr;
  }
  if (context != nullptr) {
    context->referenceCount.fetch_add(1);
  } else {
    auto state = std::make_unique<OpenTracingDriverState>();
    context = new ExecuteContext{state.get(), nullptr, nullptr, 1};
    state.release();
  }
  ownSlot().store(context, std::memory_order_release);
  std::atexit(releaseExecuteContext);
  return context;
}

// Whether this copy of the platform layer is linked into the process's executable.
bool isProcessExecutable() {
  return reinterpret_cast<HMODULE>(&__ImageBase) == GetModuleHandleW(nullptr);
}

void destroy(ExecuteContext* context) {
  ::operator delete(context->reserved);
  if (LogSettings* settings = context->logSettings.load()) {
    LogListenerNode* sentinel = settings->listeners.sentinel;
    for (LogListenerNode* node = sentinel->next; node != sentinel;) {
      LogListenerNode* next = node->next;
      ::operator delete(node);
      node = next;
    }
    ::operator delete(sentinel);
    delete settings;
  }
  delete context->driverState;
  delete context;
}

}  // namespace

ExecuteContext* getExecuteContext() {
  if (ExecuteContext* context = ownSlot().load(std::memory_order_acquire)) return context;
  const ScopedLock scope(&firstCallLock);
  if (ExecuteContext* context = ownSlot().load(std::memory_order_acquire)) return context;
  return adoptOrCreate();
}

void releaseExecuteContext() {
  // The executable lets go only in exit(), while other threads of the process may still trace:
  // its reference ends tracing but frees nothing they could still be using, and its slot keeps
  // the context for them. A library lets go when it is unloaded, or at the end of the process
  // after every other thread was stopped, and frees what it held last.
  if (isProcessExecutable()) {
    ExecuteContext* context = ownSlot().load(std::memory_order_acquire);
    if (context != nullptr && context->referenceCount.fetch_sub(1) == 1) context->driverState->endTracing();
    return;
  }
  ExecuteContext* context = ownSlot().exchange(nullptr);
  if (context == nullptr) return;
  // At an end of the process that stopped other threads, they may hold the heap's lock.
  if (context->referenceCount.fetch_sub(1) == 1 && !processEndStoppedThreads()) destroy(context);
}

LogSettings* getLogSettings(ExecuteContext* context) {
  if (LogSettings* settings = context->logSettings.load(std::memory_order_acquire)) return settings;
  auto fresh = std::make_unique<LogSettings>();
  auto* sentinel = static_cast<LogListenerNode*>(::operator new(sizeof(LogListenerNode)));
  *sentinel = LogListenerNode{sentinel, sentinel, nullptr};
  fresh->listeners = LogListenerList{sentinel, 0};
  // Modules of the process may race here; the first block stored wins and the others go.
  LogSettings* existing = nullptr;
  if (context->logSettings.compare_exchange_strong(existing, fresh.get())) return fresh.release();
  ::operator delete(sentinel);
  return existing;
}

bool hasLogSettings(const ExecuteContext* context) { return context->logSettings.load() != nullptr; }
