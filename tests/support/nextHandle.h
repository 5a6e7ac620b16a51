#pragma once
// Test support: a stand-in for the process's handle count, which Wine always reports as 0. The
// kernel hands out the lowest free handle slot, so the value of the next handle the process gets
// moves only when a handle is leaked (or one held before is closed).

#include <windows.h>

#include <cstdint>

uintptr_t nextHandleValue();
