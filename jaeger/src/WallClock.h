#pragma once
// Spans are timed by the steady clock, which the API's Finish reads anyway. Their start is read
// from the system clock, the cheaper of the two under Wine (a third of the cost), and placed on
// the steady clock through the clocks' offset, measured again every 10 ms: the error that a
// slewing system clock adds to a duration stays below a few microseconds.

#include <chrono>

namespace jaegertracing {

// The steady time at the given system time, and the other way round.
std::chrono::steady_clock::time_point steadyTimeAt(std::chrono::system_clock::time_point system) noexcept;
std::chrono::system_clock::time_point systemTimeAt(std::chrono::steady_clock::time_point steady) noexcept;

}  // namespace jaegertracing
