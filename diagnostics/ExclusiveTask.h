#pragma once
// Makes a stretch of work exclusive across processes through a named kernel mutex, held from
// Initialize until the object is destroyed. Used by one thread.

#include <windows.h>

#include <cstdint>

#include "platform/UniqueHandle.h"

class ExclusiveTask {
 public:
  // The destructor gives the mutex back when it was acquired, then closes it; the thread's last
  // error stays as the guarded work left it.
  ExclusiveTask() = default;

  // Creates or opens the mutex name (default security) and waits up to timeout milliseconds
  // (INFINITE: no limit). An abandoned mutex is taken over. Raises through throwOSError when the
  // mutex cannot be made, the wait fails, or the time runs out (WAIT_TIMEOUT, 258).
  void Initialize(const wchar_t* name, uint32_t timeout);

  ExclusiveTask(const ExclusiveTask&) = delete;
  ExclusiveTask& operator=(const ExclusiveTask&) = delete;

 private:
  UniqueAcquiredMutex mutex;  // null until a wait acquires it
};
