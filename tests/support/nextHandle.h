#pragma once
// Test support: a stand-in for the process's handle count, which Wine always reports as 0. The
// lowest free handle slots are handed out first, so the values of the next `probes` handles move
// only when a handle is leaked (or one held before is closed); several probes also see a leak
// above the lowest free slot.

#include <windows.h>

#include <cstdint>

uintptr_t nextHandleValue(int probes = 1);
