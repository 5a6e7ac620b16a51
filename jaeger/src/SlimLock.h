#pragma once
// A lock held for a few hundred nanoseconds at most: the state of one span or span context, the
// id generator's fallback. Free, taking it is one interlocked exchange and letting it go another,
// and the system is called only when a thread waits: a span takes four or five such locks, so
// their cost, whatever the system's own slim lock does on a release, stays that of two
// interlocked operations each (bench_jaeger prints what a span costs). A thread that finds it
// taken spins for about a microsecond, reading only, and then waits in the kernel on the lock's
// word (WaitOnAddress): a waiter never burns a core while the owner is descheduled, or was
// killed holding it. Allocates nothing.

#include <atomic>
#include <cstdint>

#include <windows.h>

namespace jaegertracing {

class SlimLock {
 public:
  SlimLock() = default;
  SlimLock(const SlimLock&) = delete;
  SlimLock& operator=(const SlimLock&) = delete;

  void lock() noexcept {
    if (try_lock()) return;
    for (int spin = 0; spin < kSpins; ++spin) {
      YieldProcessor();
      if (_state.load(std::memory_order_relaxed) == kFree && try_lock()) return;
    }
    // From here on the word says someone may wait, so that the owner's release wakes one.
    while (_state.exchange(kContended, std::memory_order_acquire) != kFree) {
      uint32_t contended = kContended;
      WaitOnAddress(&_state, &contended, sizeof contended, INFINITE);
    }
  }
  bool try_lock() noexcept {
    uint32_t free = kFree;
    return _state.compare_exchange_strong(free, kHeld, std::memory_order_acquire, std::memory_order_relaxed);
  }
  void unlock() noexcept {
    if (_state.exchange(kFree, std::memory_order_release) == kContended) WakeByAddressSingle(&_state);
  }

 private:
  static constexpr uint32_t kFree = 0, kHeld = 1, kContended = 2;
  static constexpr int kSpins = 200;  // about a microsecond

  std::atomic<uint32_t> _state{kFree};
  static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t), "the word WaitOnAddress watches");
};

}  // namespace jaegertracing
