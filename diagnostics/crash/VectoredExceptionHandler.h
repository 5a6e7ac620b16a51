#pragma once
// A registration in the process's list of vectored exception handlers, removed again when the
// object goes. Any thread may create or destroy one; the callback runs on the faulting thread.

#include <windows.h>

#include "platform/UniqueHandle.h"

inline void removeVectoredHandler(void* registration) noexcept { RemoveVectoredExceptionHandler(registration); }
using UniqueVectoredHandler = UniqueHandle<NullEmptyTraits<void*, removeVectoredHandler>>;

class VectoredExceptionHandler {
 public:
  VectoredExceptionHandler() = default;
  virtual ~VectoredExceptionHandler() = default;

  // Registers callback, at the head of the list when first is true, else at its end; replaces
  // the registration held so far. Without a registration (the system refused) nothing is held.
  void add(bool first, PVECTORED_EXCEPTION_HANDLER callback) noexcept;
  bool registered() const noexcept { return static_cast<bool>(registration); }

  VectoredExceptionHandler(const VectoredExceptionHandler&) = delete;
  VectoredExceptionHandler& operator=(const VectoredExceptionHandler&) = delete;

 private:
  UniqueVectoredHandler registration;  // null while not registered
};
