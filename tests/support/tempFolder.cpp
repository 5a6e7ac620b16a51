#include "tests/support/tempFolder.h"

#include <windows.h>

#include "tests/support/removeTree.h"

TempFolder::TempFolder(const std::wstring& prefix) {
  wchar_t temp[MAX_PATH + 1];
  path.assign(temp, GetTempPathW(MAX_PATH + 1, temp));
  path += prefix + std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(GetTickCount());
  CreateDirectoryW(path.c_str(), nullptr);
}

TempFolder::~TempFolder() {
  wchar_t temp[MAX_PATH + 1];
  SetCurrentDirectoryW(std::wstring(temp, GetTempPathW(MAX_PATH + 1, temp)).c_str());  // a test may work inside
  removeTree(L"\\\\?\\" + path);
}

std::wstring TempFolder::file(const std::wstring& name) const {
  const std::wstring full = path + L"\\" + name;
  CloseHandle(CreateFileW(full.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  return full;
}

std::wstring TempFolder::longName(int levels) const {
  std::wstring name = path;
  for (int i = 0; i < levels; ++i) name += L"\\" + std::wstring(70, wchar_t(L'a' + i));
  return name;
}
