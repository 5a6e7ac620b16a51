#pragma once
// Lookups in a loaded module.

#include <windows.h>

#include <string>

class VModule {
 public:
  // The address of the export called name; raises through throwOSError when there is none.
  static FARPROC getProcAddress(HMODULE module, const std::string& name);
};
