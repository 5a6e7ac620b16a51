#include "tests/support/nextHandle.h"

uintptr_t nextHandleValue() {
  const HANDLE probe = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  const uintptr_t value = reinterpret_cast<uintptr_t>(probe);
  CloseHandle(probe);
  return value;
}
