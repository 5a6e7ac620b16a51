#pragma once
// Owner of one loaded library: loaded on construction, freed on destruction.

#include <windows.h>

#include <string>

namespace RunTime {

class LibraryPtr {
 public:
  // Loads the library at path (brought into normal form first); raises through throwOSError.
  explicit LibraryPtr(const std::wstring& path);
  ~LibraryPtr();

  LibraryPtr(const LibraryPtr&) = delete;
  LibraryPtr& operator=(const LibraryPtr&) = delete;

  HMODULE module = nullptr;
};

}  // namespace RunTime
