#include "tests/driver/childProcess.h"

#include "platform/VFileName.h"
#include "tests/support/removeTree.h"

ScratchFolder::ScratchFolder(const std::wstring& prefix) {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  path = VFileName::combine(temp, prefix + std::to_wstring(GetCurrentProcessId()) + L"_" +
                                      std::to_wstring(GetTickCount()));
  CreateDirectoryW(path.c_str(), nullptr);
}

ScratchFolder::~ScratchFolder() { removeTree(path); }

std::wstring ScratchFolder::placeHost(const std::wstring& source, const std::wstring& target) const {
  const std::wstring bin = executableFolder();
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((bin + L"\\*.dll").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = found.cFileName;
      if (_wcsicmp(name.c_str(), L"opentracingprovider.dll") == 0) continue;
      CopyFileW((bin + L"\\" + name).c_str(), (path + L"\\" + name).c_str(), FALSE);
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }
  const std::wstring host = path + L"\\" + target;
  CopyFileW((bin + L"\\" + source).c_str(), host.c_str(), FALSE);
  return host;
}
