#include "jaeger/src/WallClock.h"

#include <windows.h>

#include <atomic>
#include <cstdint>

namespace jaegertracing {

namespace {

std::atomic<int64_t> offsetNanos{0};
std::atomic<uint64_t> measuredAtTick{0};  // 0: never measured
constexpr uint64_t kRemeasureMillis = 10;

template <typename TimePoint>
int64_t nanosOf(TimePoint time) {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(time.time_since_epoch()).count();
}

template <typename Clock>
typename Clock::time_point fromNanos(int64_t nanos) {
  return typename Clock::time_point(std::chrono::duration_cast<typename Clock::duration>(std::chrono::nanoseconds(nanos)));
}

int64_t measureOffset() noexcept {
  const auto steady = std::chrono::steady_clock::now();
  return nanosOf(systemNow()) - nanosOf(steady);
}

// Nanoseconds to add to a steady time for the system time.
int64_t currentOffset() noexcept {
  const uint64_t now = GetTickCount64() + 1;  // + 1 keeps 0 for "never"
  const uint64_t measured = measuredAtTick.load(std::memory_order_acquire);
  if (measured == 0 || now - measured >= kRemeasureMillis) {
    // Threads that race here measure alike; whichever stores last wins.
    offsetNanos.store(measureOffset(), std::memory_order_relaxed);
    measuredAtTick.store(now, std::memory_order_release);
  }
  return offsetNanos.load(std::memory_order_relaxed);
}

}  // namespace

std::chrono::system_clock::time_point systemNow() noexcept {
  FILETIME now;
  GetSystemTimePreciseAsFileTime(&now);
  // 100 ns ticks since 1601; the Unix epoch is this many ticks later.
  constexpr uint64_t kUnixEpochTicks = 116444736000000000ULL;
  const uint64_t ticks = (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  const std::chrono::nanoseconds sinceEpoch(static_cast<int64_t>(ticks - kUnixEpochTicks) * 100);
  return std::chrono::system_clock::time_point(
      std::chrono::duration_cast<std::chrono::system_clock::duration>(sinceEpoch));
}

std::chrono::steady_clock::time_point steadyTimeAt(std::chrono::system_clock::time_point system) noexcept {
  return fromNanos<std::chrono::steady_clock>(nanosOf(system) - currentOffset());
}

std::chrono::system_clock::time_point systemTimeAt(std::chrono::steady_clock::time_point steady) noexcept {
  return fromNanos<std::chrono::system_clock>(nanosOf(steady) + currentOffset());
}

}  // namespace jaegertracing
