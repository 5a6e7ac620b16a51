#pragma once
// The one scoped lock of the library: holds a critical section or a slim lock (exclusively)
// from construction to the end of the scope, on every way out of it. Not copied, not moved.

#include <windows.h>

inline void acquireLock(CRITICAL_SECTION* lock) noexcept { EnterCriticalSection(lock); }
inline void releaseLock(CRITICAL_SECTION* lock) noexcept { LeaveCriticalSection(lock); }
inline void acquireLock(SRWLOCK* lock) noexcept { AcquireSRWLockExclusive(lock); }
inline void releaseLock(SRWLOCK* lock) noexcept { ReleaseSRWLockExclusive(lock); }

template <class Lock>
class ScopedLock {
 public:
  explicit ScopedLock(Lock* lock) noexcept : lock_(lock) { acquireLock(lock_); }
  ~ScopedLock() { releaseLock(lock_); }

  ScopedLock(const ScopedLock&) = delete;
  ScopedLock& operator=(const ScopedLock&) = delete;

 private:
  Lock* lock_;
};
