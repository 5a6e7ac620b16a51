#pragma once
// A stand-in for the process's handle count, which Wine always reports as 0: the lowest free handle
// slots are handed out first, so the values of the next `probes` handles move only when a handle is
// leaked (or one held before is closed); several probes also see a leak above the lowest free slot.

#include <windows.h>

#include <cstdint>
#include <vector>

inline uintptr_t nextHandleValue(int probes = 1) {
  std::vector<HANDLE> handles(probes);
  uintptr_t value = 0;
  for (HANDLE& handle : handles) {
    handle = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    value = value * 31 + reinterpret_cast<uintptr_t>(handle);
  }
  for (HANDLE handle : handles) CloseHandle(handle);
  return value;
}
