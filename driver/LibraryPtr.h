#pragma once
// Owner of one loaded library: loaded on construction, freed on destruction.

#include <windows.h>

#include <string>

#include "platform/UniqueHandle.h"

namespace RunTime {

class LibraryPtr : public UniqueLibrary {
 public:
  // Loads the library at path (brought into normal form first); raises through throwOSError.
  explicit LibraryPtr(const std::wstring& path);
};

static_assert(sizeof(LibraryPtr) == sizeof(HMODULE), "a library owner is the module handle alone");

}  // namespace RunTime
