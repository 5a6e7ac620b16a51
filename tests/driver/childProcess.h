#pragma once
// Test support: a scratch folder that can hold a copy of a test host beside the product's DLLs.

#include "platform/VFileName.h"
#include "tests/support/removeTree.h"
#include "tests/support/runProcess.h"

// A fresh folder under the temporary folder, removed with everything in it at the end.
class ScratchFolder {
 public:
  explicit ScratchFolder(const std::wstring& prefix) {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    path = VFileName::combine(temp, prefix + std::to_wstring(GetCurrentProcessId()) + L"_" +
                                        std::to_wstring(GetTickCount()));
    CreateDirectoryW(path.c_str(), nullptr);
  }
  ~ScratchFolder() { removeTree(path); }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  // Copies the build's DLLs but the provider here, and its executable source as target; its path.
  std::wstring placeHost(const std::wstring& source, const std::wstring& target) const {
    const std::wstring bin = executableFolder();
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((bin + L"\\*.dll").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
      do {
        if (_wcsicmp(found.cFileName, L"opentracingprovider.dll") == 0) continue;
        CopyFileW((bin + L"\\" + found.cFileName).c_str(), (path + L"\\" + found.cFileName).c_str(), FALSE);
      } while (FindNextFileW(search, &found));
      FindClose(search);
    }
    CopyFileW((bin + L"\\" + source).c_str(), (path + L"\\" + target).c_str(), FALSE);
    return path + L"\\" + target;
  }

  std::wstring path;
};
