#pragma once
// Test support: a stand-in for the process's handle count, which Wine always reports as 0. The
// kernel hands out the lowest free handle slots, so the values of the next handles the process
// gets move only when a handle is leaked (or one held before is closed). Probing more than one
// also shows a handle leaked while others were held, above the lowest free slot; a call with
// several probes also counts a handle the system opens once and keeps.

#include <windows.h>

#include <cstdint>

uintptr_t nextHandleValue(int probes = 1);
