#include "jaeger/src/ReporterLifecycle.h"

#include <atomic>

#include <windows.h>

namespace jaegertracing {

namespace {

// Set once the process is known to be ending (by the library's detach, or the first time the
// system's flag is seen), and never cleared.
std::atomic<bool> ending{false};

using ShutdownQuery = BOOLEAN(NTAPI*)();

// Looked up when the library loads: a first lookup at process end would take the run-time's
// lock for local statics, which a killed thread may hold.
const ShutdownQuery shutdownInProgress = reinterpret_cast<ShutdownQuery>(
    reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlDllShutdownInProgress")));

}  // namespace

void markProcessEnding() noexcept { ending = true; }

bool processEnding() noexcept {
  if (ending.load(std::memory_order_relaxed)) return true;
  if (shutdownInProgress == nullptr || shutdownInProgress() == 0) return false;
  ending = true;
  return true;
}

}  // namespace jaegertracing
