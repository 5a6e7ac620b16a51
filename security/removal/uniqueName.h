#pragma once
// Fresh names for files moved out of the way. Any thread may call.

#include <string>

namespace RunTime {

// A new UUID as 36 lower-case hexadecimal characters in groups of 8-4-4-4-12, without braces:
// random (UuidCreate) or sequential (UuidCreateSequential, which keeps names made close together
// distinct). Raises through throwOSError with the RPC status when no UUID can be made.
std::wstring uniqueName(bool random);

}  // namespace RunTime
