#include "tests/support/nextHandle.h"

#include <vector>

uintptr_t nextHandleValue(int probes) {
  std::vector<HANDLE> handles(probes);
  uintptr_t value = 0;
  for (HANDLE& handle : handles) {
    handle = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    value = value * 31 + reinterpret_cast<uintptr_t>(handle);
  }
  for (HANDLE handle : handles) CloseHandle(handle);
  return value;
}
