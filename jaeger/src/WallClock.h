#pragma once
// Spans are timed by the steady clock, which the API's Finish reads anyway; the wall-clock start
// the agent needs is derived from it through the clocks' offset, so a span reads one clock at
// its start rather than two.

#include <chrono>

namespace jaegertracing {

// The system time at the given steady time, by an offset measured again once a second, so
// that adjustments of the system clock are followed.
std::chrono::system_clock::time_point systemTimeAt(std::chrono::steady_clock::time_point steady) noexcept;

}  // namespace jaegertracing
