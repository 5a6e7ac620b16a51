#pragma once
// Stands in for the handle count (0 under Wine): the lowest free slots go first, so the next `probes`
// handle values move only when a handle leaks or one held before is closed, even above the lowest slot.

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
