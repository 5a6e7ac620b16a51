#include "jaeger/src/ReporterLifecycle.h"

#include <atomic>

#include <windows.h>

namespace jaegertracing {

namespace {

std::atomic<bool> ending{false};

}  // namespace

void markProcessEnding() noexcept { ending = true; }

bool processEnding() noexcept {
  if (ending.load(std::memory_order_relaxed)) return true;
  using Query = BOOLEAN(NTAPI*)();
  static const Query query = reinterpret_cast<Query>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlDllShutdownInProgress")));
  if (query == nullptr || query() == 0) return false;
  ending = true;
  return true;
}

}  // namespace jaegertracing
