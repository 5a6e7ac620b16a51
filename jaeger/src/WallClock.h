#pragma once
// A span's start and, unless the caller gives one, its finish are read from the system clock,
// once each: the agent wants the start as a system time, and the duration is taken on the steady
// clock by placing both readings there through the clocks' offset, measured again every 10 ms.
// So durations follow the steady clock, and the error a slewing system clock adds to one stays
// below a few microseconds, for one clock reading per time stamp.

#include <chrono>

namespace jaegertracing {

// The system clock read straight from Windows; the C++ clock takes two conversions more.
std::chrono::system_clock::time_point systemNow() noexcept;

// The steady time at the given system time, and the other way round.
std::chrono::steady_clock::time_point steadyTimeAt(std::chrono::system_clock::time_point system) noexcept;
std::chrono::system_clock::time_point systemTimeAt(std::chrono::steady_clock::time_point steady) noexcept;

}  // namespace jaegertracing
