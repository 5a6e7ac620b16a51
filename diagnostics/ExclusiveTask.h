#pragma once
// Makes a stretch of work exclusive across processes through a named kernel mutex, held from
// Initialize until the object is destroyed. Used by one thread.

#include <windows.h>

#include <cstdint>

#include "platform/UniqueHandle.h"

class ExclusiveTask {
 public:
  ExclusiveTask() = default;
  // Releases the mutex when it was acquired, then closes it.
  ~ExclusiveTask();

  // Creates or opens the mutex name (default security) and waits up to timeout milliseconds
  // (INFINITE: no limit). An abandoned mutex is taken over. Raises through throwOSError when the
  // mutex cannot be made, the wait fails, or the time runs out (WAIT_TIMEOUT, 258).
  void Initialize(const wchar_t* name, uint32_t timeout);

  ExclusiveTask(const ExclusiveTask&) = delete;
  ExclusiveTask& operator=(const ExclusiveTask&) = delete;

 private:
  UniqueKernelHandle mutex;  // null before Initialize
  bool owned = false;        // whether the wait acquired it
};
