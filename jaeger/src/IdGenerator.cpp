#include "jaeger/src/IdGenerator.h"

#include <chrono>
#include <functional>
#include <random>
#include <mutex>
#include <thread>

#include "jaeger/src/SlimLock.h"
#include "jaeger/src/ThreadSlot.h"

namespace jaegertracing {

namespace {

// xoshiro256** state, seeded through splitmix64 so that a weak seed still spreads over all bits.
class Generator {
 public:
  Generator() noexcept {
    uint64_t seed = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
                    (static_cast<uint64_t>(std::hash<std::thread::id>()(std::this_thread::get_id())) << 17);
    try {
      std::random_device device;
      seed ^= (static_cast<uint64_t>(device()) << 32) ^ device();
    } catch (...) {
      // Without a system source the clock and thread id still differ between threads and runs.
    }
    for (auto& word : _state) word = splitmix(seed);
  }

  uint64_t next() {
    const uint64_t result = rotl(_state[1] * 5, 7) * 9;
    const uint64_t t = _state[1] << 17;
    _state[2] ^= _state[0];
    _state[3] ^= _state[1];
    _state[1] ^= _state[2];
    _state[0] ^= _state[3];
    _state[2] ^= t;
    _state[3] = rotl(_state[3], 45);
    return result;
  }

 private:
  static uint64_t rotl(uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
  static uint64_t splitmix(uint64_t& x) {
    uint64_t z = (x += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
  }

  uint64_t _state[4];
};

// Only for a thread that got no generator of its own, for want of memory or slots.
uint64_t sharedNext() noexcept {
  static SlimLock lock;
  static Generator shared;
  std::lock_guard<SlimLock> guard(lock);
  return shared.next();
}

}  // namespace

uint64_t randomId() noexcept {
  // Not a C++ thread_local: MinGW emulates those at three times the cost of this slot.
  static ThreadSlot<Generator> generators;
  Generator* generator = generators.get(true);
  uint64_t id;
  do {
    id = generator ? generator->next() : sharedNext();
  } while (id == 0);
  return id;
}

}  // namespace jaegertracing
