#pragma once
// A lock held for a few hundred nanoseconds at most: the state of one span or span context, the
// id generator's fallback, the reporter's datagrams. The system's slim reader/writer lock costs
// one interlocked instruction when free and allocates nothing; a thread that finds it taken
// spins for about a microsecond and then waits in the kernel: a waiter never burns a core while
// the owner is descheduled, or was killed holding it.

#include <chrono>

#include <windows.h>

namespace jaegertracing {

class SlimLock {
 public:
  SlimLock() = default;
  SlimLock(const SlimLock&) = delete;
  SlimLock& operator=(const SlimLock&) = delete;

  void lock() noexcept {
    // Its owner lets go within a fraction of a microsecond while it runs: a short spin spares
    // the kernel's wait and wake, which Wine's slim lock goes to at once. The spin only reads
    // the lock's word until it looks free: an interlocked try on every turn would take the
    // word's cache line from the owner again and again and slow its release.
    for (int spin = 0; spin < kSpins; ++spin) {
      if (looksFree() && try_lock()) return;
      YieldProcessor();
    }
    AcquireSRWLockExclusive(&_lock);
  }
  bool try_lock() noexcept { return TryAcquireSRWLockExclusive(&_lock) != 0; }
  void unlock() noexcept { ReleaseSRWLockExclusive(&_lock); }

  // Takes the lock unless it stays taken for the whole timeout. For the exit path only, where
  // its owner may be a thread that no longer runs: a slim lock has no timed wait of its own.
  bool lockWithin(std::chrono::milliseconds timeout) noexcept {
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(timeout.count());
    while (!try_lock()) {
      if (GetTickCount64() >= deadline) return false;
      Sleep(1);
    }
    return true;
  }

  // For SleepConditionVariableSRW.
  PSRWLOCK native() noexcept { return &_lock; }

 private:
  // A hint only: the word is all zero when the lock is free and nobody waits for it.
  bool looksFree() const noexcept { return *static_cast<void* const volatile*>(&_lock.Ptr) == nullptr; }

  static constexpr int kSpins = 200;  // about a microsecond

  SRWLOCK _lock = SRWLOCK_INIT;
};

}  // namespace jaegertracing
