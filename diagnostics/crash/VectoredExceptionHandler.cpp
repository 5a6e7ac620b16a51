#include "diagnostics/crash/VectoredExceptionHandler.h"

void VectoredExceptionHandler::add(bool first, PVECTORED_EXCEPTION_HANDLER callback) noexcept {
  registration.reset(AddVectoredExceptionHandler(first ? 1 : 0, callback));
}
