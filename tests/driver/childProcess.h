#pragma once
// Test support: folders that hold a copy of a test host beside the product's DLLs, away from the
// build's own folder.

#include <windows.h>

#include <string>

#include "tests/support/runProcess.h"

// A fresh folder under the temporary folder, removed with everything in it at the end.
class ScratchFolder {
 public:
  explicit ScratchFolder(const std::wstring& prefix);
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  // Copies every DLL of the build's binary folder except the provider into this folder, and
  // the executable called source there as target; returns the target's path.
  std::wstring placeHost(const std::wstring& source, const std::wstring& target) const;

  std::wstring path;
};
