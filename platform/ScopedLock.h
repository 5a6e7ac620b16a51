#pragma once
// The one scoped lock of the library: holds a critical section, a slim lock (exclusively) or a
// waitable object of the library (VSyncObject, such as VMutex) from construction to the end of
// the scope, on every way out of it. Not copied, not moved. A kind of lock joins by declaring
// acquireLock/releaseLock overloads beside it, found by argument-dependent lookup; acquireLock may
// raise (the scope then holds nothing), releaseLock must not. A lock the caller already took
// (by a bounded try) is handed over with std::adopt_lock and released at the end of the scope.

#include <windows.h>

#include <mutex>

inline void acquireLock(CRITICAL_SECTION* lock) noexcept { EnterCriticalSection(lock); }
inline void releaseLock(CRITICAL_SECTION* lock) noexcept { LeaveCriticalSection(lock); }
inline void acquireLock(SRWLOCK* lock) noexcept { AcquireSRWLockExclusive(lock); }
inline void releaseLock(SRWLOCK* lock) noexcept { ReleaseSRWLockExclusive(lock); }

template <class Lock>
class ScopedLock {
 public:
  explicit ScopedLock(Lock* lock) noexcept(noexcept(acquireLock(lock))) : lock_(lock) { acquireLock(lock_); }
  ScopedLock(Lock* held, std::adopt_lock_t) noexcept : lock_(held) {}
  ~ScopedLock() {
    static_assert(noexcept(releaseLock(lock_)), "releasing a lock must not raise");
    releaseLock(lock_);
  }

  ScopedLock(const ScopedLock&) = delete;
  ScopedLock& operator=(const ScopedLock&) = delete;

 private:
  Lock* lock_;
};
