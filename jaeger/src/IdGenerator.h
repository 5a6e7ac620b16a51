#pragma once
// Random 64-bit span and trace ids. Each thread has its own generator, seeded from the system's
// random source, so starting a span takes no lock.

#include <cstdint>

namespace jaegertracing {

// A random id, never 0.
uint64_t randomId() noexcept;

}  // namespace jaegertracing
