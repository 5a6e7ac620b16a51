#pragma once
// A lock held for a few hundred nanoseconds at most: the state of one span or span context,
// which another thread rarely touches at the same moment, and the reporter's queue. A system
// mutex would cost an allocation per span under MinGW, and a wait in the kernel whenever two
// threads meet.

#include <atomic>
#include <thread>

#include <windows.h>

namespace jaegertracing {

class SpinLock {
 public:
  void lock() noexcept {
    while (_held.exchange(true, std::memory_order_acquire)) {
      // Spin a while before giving the processor away: a producer ending spans in a loop takes
      // the lock again within a microsecond, and a thread that yielded at once lost its turn
      // to it for a whole time slice.
      for (int spins = 0; _held.load(std::memory_order_relaxed); ++spins) {
        if (spins < kSpinsBeforeYield) {
          YieldProcessor();
        } else {
          std::this_thread::yield();
        }
      }
    }
  }
  bool try_lock() noexcept { return !_held.exchange(true, std::memory_order_acquire); }
  void unlock() noexcept { _held.store(false, std::memory_order_release); }

 private:
  static constexpr int kSpinsBeforeYield = 1000;
  std::atomic<bool> _held{false};
};

}  // namespace jaegertracing
