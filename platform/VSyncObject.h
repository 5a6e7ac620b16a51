#pragma once
// A waitable kernel object that the library owns: waits with a deadline that survives the
// asynchronous procedure calls an alertable wait lets in. Waits and unlock only read the handle,
// so threads may share an object while its handle stays; the kernel object behind it may be
// shared between threads and processes.

#include <windows.h>

#include <cstdint>

#include "platform/UniqueHandle.h"

class VSyncObject {
 public:
  VSyncObject() = default;
  // Closes the handle when one is held.
  virtual ~VSyncObject();

  // Waits alertably until the object is signalled or timeout milliseconds (INFINITE: no limit)
  // have passed in all, however many procedure calls interrupt the wait. Returns WAIT_OBJECT_0,
  // WAIT_ABANDONED or WAIT_TIMEOUT; raises through throwOSError when the wait fails.
  virtual uint32_t waitForSingleObject(uint32_t timeout);

  // Releases the object; raises on failure.
  virtual bool unlock() = 0;

  // True when the object was acquired (an abandoned mutex counts), false when the time ran out;
  // raises otherwise.
  bool lock(uint32_t timeout);

  VSyncObject(const VSyncObject&) = delete;
  VSyncObject& operator=(const VSyncObject&) = delete;

  UniqueKernelHandle handle;  // null when the object holds none
};

// For ScopedLock<VSyncObject> (and ScopedLock<VMutex>): waits without a time limit, an abandoned
// mutex counting as acquired; raises what VSyncObject::lock raises.
void acquireLock(VSyncObject* object);
// Releases; a failure cannot be reported from the end of a scope, so it is dropped.
void releaseLock(VSyncObject* object) noexcept;
