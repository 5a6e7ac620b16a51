#pragma once
// The reporter's lifecycle, and the rules every part of it keeps.
//
//   Running        spans are taken; the background thread sends them.
//   Closing        close() was called: no span is taken any more; the background thread sends
//                  what waits and stops.
//   ProcessEnding  the process is exiting and ExitProcess has killed every other thread,
//                  perhaps inside one of our locks or in the middle of a send; the exiting
//                  thread sends what it can without blocking.
//   Done           nothing is left: every span taken was sent or counted.
//
//   Running -> Closing -> Done                      close(), then the thread's (or close's) last send
//   Running | Closing -> ProcessEnding -> Done      the flush at process exit
//
// Rules:
// - No wait without a bound once the process ends: every lock the exit path can reach is an
//   ExitBoundedLock, and the socket never blocks. What cannot be sent then (a send that would
//   block, the datagram a killed sender held) is counted as lost at exit, never left uncounted.
// - State guarded by a lock is read only under it, with two exceptions: the datagrams, whose
//   every change leaves them readable (Datagrams.h), and the phase, one word. A lock that cannot
//   be had at exit was held by a killed thread; the exiting thread, the only one left, then reads
//   those two without it and leaves the rest alone.
// - A datagram leaves the waiting ones before it is sent, and is sent by the thread that took
//   it, once: the flush at exit never sends again what a killed thread may already have sent.
// - Every span taken is counted in exactly one outcome once it is settled (Tracer::Statistics);
//   until then it is pending, and at the end of the flush at exit whatever is pending is lost.

#include <atomic>
#include <chrono>

#include <windows.h>

namespace jaegertracing {

// True once the process is exiting and its other threads are gone: set by the library's
// detach at exit, or seen in the system's own flag when another module's detach gets here
// first.
bool processEnding() noexcept;
void markProcessEnding() noexcept;

enum class Phase { Running, Closing, ProcessEnding, Done };

// The phase, changed only through moveTo, which refuses the moves the lifecycle does not have.
// Guarded by the reporter's lock.
class Lifecycle {
 public:
  Phase phase() const { return _phase; }
  [[nodiscard]] bool moveTo(Phase next) noexcept {
    if (!allowed(_phase, next)) return false;
    _phase = next;
    return true;
  }

 private:
  static constexpr bool allowed(Phase from, Phase to) {
    return (from == Phase::Running && (to == Phase::Closing || to == Phase::ProcessEnding)) ||
           (from == Phase::Closing && (to == Phase::ProcessEnding || to == Phase::Done)) ||
           (from == Phase::ProcessEnding && to == Phase::Done);
  }

  Phase _phase = Phase::Running;
};

// A lock that waits without bound while the process runs, and at most kExitLockWait once it
// ends, when its owner may have been killed holding it. Once the process ends a lock taken is
// kept, never released: a release wakes the threads that waited for it through the system's wait
// queues, whose own lock a killed waiter may have held, and no thread is left to wake. The
// exiting thread may take it again; nobody else is left to want it.
class ExitBoundedLock {
 public:
  static constexpr std::chrono::milliseconds kExitLockWait{50};

  // Held for the guard's life when it converts to true.
  class Guard {
   public:
    explicit Guard(ExitBoundedLock& lock) noexcept : _lock(lock) { relock(); }
    ~Guard() { unlock(); }
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;
    explicit operator bool() const { return _held; }
    void unlock() noexcept {
      if (_held) _lock.release();
      _held = false;
    }
    bool relock() noexcept {
      if (!_held) _held = _lock.acquire();
      return _held;
    }

   private:
    ExitBoundedLock& _lock;
    bool _held = false;
  };

  // While the process runs, the caller holding the lock: lets it go, waits on condition for at
  // most ms and takes it again. False when the time ran out.
  bool sleepOn(CONDITION_VARIABLE& condition, DWORD ms) noexcept {
    _held.store(false, std::memory_order_relaxed);
    const bool woken = SleepConditionVariableSRW(&condition, &_lock, ms, 0) != 0;
    _held.store(true, std::memory_order_relaxed);
    return woken;
  }
  // Takes the lock only if it is free now; released by unlock().
  bool tryLock() noexcept { return acquireWithin(std::chrono::milliseconds(0)); }
  void unlock() noexcept { release(); }

 private:
  bool acquire() noexcept { return acquireWithin(kExitLockWait); }

  // While the process runs: with exitWait zero only a try, otherwise a wait without bound. Once
  // it ends: a wait of at most exitWait, or none for the thread that already keeps the lock.
  bool acquireWithin(std::chrono::milliseconds exitWait) noexcept {
    if (processEnding()) {
      if (_keptBy == GetCurrentThreadId()) return true;
      if (!lockWithin(exitWait)) return false;
      _keptBy = GetCurrentThreadId();
      return true;
    }
    if (exitWait.count() == 0) return tryAcquire();
    // Its owner lets go within a fraction of a microsecond while it runs: a short spin, which
    // only reads whether it is held, spares the kernel's wait and wake.
    for (int spin = 0; spin < kSpins; ++spin) {
      if (!_held.load(std::memory_order_relaxed) && tryAcquire()) return true;
      YieldProcessor();
    }
    AcquireSRWLockExclusive(&_lock);
    _held.store(true, std::memory_order_relaxed);
    return true;
  }

  // A slim lock has no timed wait of its own; at exit its owner may be a killed thread.
  bool lockWithin(std::chrono::milliseconds timeout) noexcept {
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(timeout.count());
    while (!tryAcquire()) {
      if (GetTickCount64() >= deadline) return false;
      Sleep(1);
    }
    return true;
  }

  bool tryAcquire() noexcept {
    if (TryAcquireSRWLockExclusive(&_lock) == 0) return false;
    _held.store(true, std::memory_order_relaxed);
    return true;
  }

  void release() noexcept {
    if (processEnding()) {
      _keptBy = GetCurrentThreadId();
      return;
    }
    _held.store(false, std::memory_order_relaxed);
    ReleaseSRWLockExclusive(&_lock);
  }

  static constexpr int kSpins = 200;  // about a microsecond

  // A slim reader/writer lock, which the reporter's condition variables need.
  SRWLOCK _lock = SRWLOCK_INIT;
  // Whether the lock is held (a condition variable's wait lets it go): a hint for the spin, kept
  // beside the lock rather than read from the system's word, whose layout is the system's own.
  std::atomic<bool> _held{false};
  // The exiting thread, once it took the lock at process end: it alone may take it again.
  DWORD _keptBy = 0;
};

}  // namespace jaegertracing
