#pragma once
// A mutex, named or not, that every account on the machine may open (Everyone, GENERIC_ALL).
// Opening a name that already exists opens that mutex with its owner and security as they are.

#include "platform/VSyncObject.h"

class VMutex : public VSyncObject {
 public:
  // Creates or opens the mutex; name may be null. Raises through throwOSError on failure and
  // then holds no handle.
  VMutex(bool initialOwner, const wchar_t* name);
  ~VMutex() override;

  // ReleaseMutex; raises on failure (ERROR_NOT_OWNER for a thread that does not own it).
  bool unlock() override;
};
