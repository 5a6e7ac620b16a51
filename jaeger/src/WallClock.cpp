#include "jaeger/src/WallClock.h"

#include <windows.h>

#include <atomic>
#include <cstdint>

namespace jaegertracing {

namespace {

std::atomic<int64_t> offsetNanos{0};
std::atomic<uint64_t> measuredAtTick{0};  // 0: never measured
constexpr uint64_t kRemeasureMillis = 1000;

int64_t measureOffset() noexcept {
  const auto steady = std::chrono::steady_clock::now();
  const auto system = std::chrono::system_clock::now();
  return std::chrono::duration_cast<std::chrono::nanoseconds>(system.time_since_epoch()).count() -
         std::chrono::duration_cast<std::chrono::nanoseconds>(steady.time_since_epoch()).count();
}

}  // namespace

std::chrono::system_clock::time_point systemTimeAt(std::chrono::steady_clock::time_point steady) noexcept {
  const uint64_t now = GetTickCount64() + 1;  // + 1 keeps 0 for "never"
  uint64_t measured = measuredAtTick.load(std::memory_order_acquire);
  if (measured == 0 || now - measured >= kRemeasureMillis) {
    // Threads that race here measure alike; whichever stores last wins.
    offsetNanos.store(measureOffset(), std::memory_order_relaxed);
    measuredAtTick.store(now, std::memory_order_release);
  }
  const int64_t nanos =
      std::chrono::duration_cast<std::chrono::nanoseconds>(steady.time_since_epoch()).count() +
      offsetNanos.load(std::memory_order_relaxed);
  return std::chrono::system_clock::time_point(
      std::chrono::duration_cast<std::chrono::system_clock::duration>(std::chrono::nanoseconds(nanos)));
}

}  // namespace jaegertracing
