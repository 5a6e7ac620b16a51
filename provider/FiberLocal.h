#pragma once
// An object of each thread's own, made on the thread's first use and destroyed as the thread
// exits. A fiber-local slot with a destructor rather than a C++ thread_local: MinGW runs the
// destructors of thread_local objects in DLLs after their emulated storage may already be freed,
// while the system calls this callback at thread exit, before the thread's storage goes.
// Unloading the module frees the slot, which destroys the objects of the other threads at once:
// later thread exits must not call back into unloaded code. At the end of the process the slot
// is left as it is: the other threads were stopped wherever they were, perhaps holding the
// heap's lock, and their objects go with the process.

#include <windows.h>

#include <new>

#include "platform/UniqueHandle.h"
#include "platform/processEnding.h"

template <typename T>
class FiberLocal {
 public:
  FiberLocal() : _slot(FlsAlloc(destroy)) {}
  ~FiberLocal() {
    if (processIsEnding()) _slot.release();  // left to the process (see above)
  }
  FiberLocal(const FiberLocal&) = delete;
  FiberLocal& operator=(const FiberLocal&) = delete;

  // The calling thread's object. Throws std::bad_alloc when it cannot be made.
  T& get() {
    auto* object = static_cast<T*>(FlsGetValue(_slot.get()));
    if (object) return *object;
    if (!_slot) throw std::bad_alloc();
    object = new T();
    if (!FlsSetValue(_slot.get(), object)) {
      delete object;
      throw std::bad_alloc();
    }
    return *object;
  }

 private:
  // At the end of the process the exiting thread's object stays: its destruction frees, and may
  // take locks, that a stopped thread may hold.
  static void WINAPI destroy(void* object) {
    if (!processEndStoppedThreads()) delete static_cast<T*>(object);
  }

  UniqueFiberSlot _slot;
};
