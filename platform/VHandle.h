#pragma once
// Duplication of handles within the process.

#include <windows.h>

namespace VHandle {

// A new handle to the same object, with the same access, that the caller owns and closes. Null
// and INVALID_HANDLE_VALUE (which is also the current-process pseudo-handle) give
// INVALID_HANDLE_VALUE without a system call. Raises through throwOSError on failure.
HANDLE duplicate(HANDLE handle);

}  // namespace VHandle
