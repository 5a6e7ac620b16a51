#include "driver/OpenTracingDriverState.h"

#include <new>

#include "driver/VModule.h"
#include "driver/readTracingEnabled.h"
#include "platform/ScopedLock.h"
#include "platform/VFileName.h"
#include "platform/moduleName.h"

namespace {

// exit() runs endTracing holding the C run-time's exit lock, while a thread starting the process's
// first span holds the driver's lock as it loads the provider and makes the tracer, which
// register exit handlers and so wait for that exit lock: past this bound the end of tracing gives
// up rather than deadlock the exit. A span start that is not stuck takes far less.
constexpr ULONGLONG kEndTracingLockWaitMs = 2000;

bool enterWithin(CRITICAL_SECTION* lock, ULONGLONG ms) noexcept {
  const ULONGLONG deadline = GetTickCount64() + ms;
  while (!TryEnterCriticalSection(lock)) {
    if (GetTickCount64() >= deadline) return false;
    Sleep(1);
  }
  return true;
}

template <class Fn>
Fn resolve(HMODULE module, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(VModule::getProcAddress(module, name)));
}

}  // namespace

OpenTracingDriverState::OpenTracingDriverState()
    : enabled(readTracingEnabled() ? 1 : 0), lock(makeCriticalSection()) {
  if (!lock) throw std::bad_alloc();
}

OpenTracingDriverState::~OpenTracingDriverState() {
  try {
    tracer.reset();
  } catch (...) {
  }
  try {
    library.reset();
  } catch (...) {
  }
}

void OpenTracingDriverState::loadProvider() {
  if (!library) {
    // Only the executable's own folder: a provider elsewhere on the search path is not ours.
    auto loaded = std::make_unique<RunTime::LibraryPtr>(
        VFileName::combine(VFileName::directory(moduleName(nullptr)), L"opentracingprovider.dll"));
    // A thread that passed the enabled check before a failed load must never meet a library
    // whose entry points are unset: nothing is stored until all three resolve.
    const auto tracerEntry = resolve<OpenTracingDriver::GetTracerFn>(loaded->get(), OpenTracingDriver::kGetTracerExport);
    const auto spanEntry =
        resolve<OpenTracingDriver::GetSpanContextFn>(loaded->get(), OpenTracingDriver::kGetSpanContextExport);
    const auto injectEntry =
        resolve<OpenTracingDriver::InjectCurrentSpanFn>(loaded->get(), OpenTracingDriver::kInjectCurrentSpanExport);
    getTracer = tracerEntry;
    getSpanContext = spanEntry;
    injectCurrentSpan = injectEntry;
    library = std::move(loaded);
  }
  if (!tracer) tracer.reset(getTracer());
}

std::unique_ptr<OpenTracingDriver::ISpanContextProvider> OpenTracingDriverState::startSpan(const std::string& function,
                                                                                          int32_t line,
                                                                                          const std::string& name) {
  const ScopedLock scope(lock.get());
  if (enabled.load(std::memory_order_relaxed) == 0) return nullptr;
  loadProvider();
  return std::unique_ptr<OpenTracingDriver::ISpanContextProvider>(getSpanContext(tracer, function, line, name));
}

void OpenTracingDriverState::injectSpan() {
  const ScopedLock scope(lock.get());
  if (enabled.load(std::memory_order_relaxed) == 0) return;
  loadProvider();
  injectCurrentSpan(tracer);
}

void OpenTracingDriverState::endTracing() noexcept {
  enabled.store(0, std::memory_order_relaxed);
  OpenTracingDriver::TracerPtr ending;
  // Given up, the tracer is left to the end of the process, which sends what its reporter holds.
  if (!enterWithin(lock.get(), kEndTracingLockWaitMs)) return;
  {
    // No span is being started once the tracer is taken; later starts find tracing off.
    const ScopedLock scope(lock.get(), std::adopt_lock);
    ending = std::move(tracer);
  }
  try {
    ending.reset();
  } catch (...) {
  }
}
