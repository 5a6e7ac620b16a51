#include "platform/processEnding.h"

#include <windows.h>

bool processIsEnding() noexcept {
  // Exported by ntdll (and by Wine) though not declared by every SDK. Looked up on each call,
  // which is rare, rather than kept in a static whose guard a stopped thread could hold.
  using Query = BOOLEAN(NTAPI*)();
  const auto query = reinterpret_cast<Query>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlDllShutdownInProgress")));
  return query != nullptr && query() != FALSE;
}
