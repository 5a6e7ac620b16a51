#pragma once
// Duplication of handles within the process.

#include <windows.h>

#include "platform/UniqueHandle.h"

namespace VHandle {

// An owned copy: a new handle to the same object, with the same access. Null and
// INVALID_HANDLE_VALUE (which is also the current-process pseudo-handle) give an owner of
// INVALID_HANDLE_VALUE, which holds nothing, without a system call. Raises through throwOSError on
// failure. Any thread.
UniqueDuplicateHandle duplicate(HANDLE handle);

}  // namespace VHandle
