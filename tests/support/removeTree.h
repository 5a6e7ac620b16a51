#pragma once
// Removes a folder with everything in it, read-only files included; what cannot be removed stays.

#include <windows.h>

#include <string>

inline void removeTree(const std::wstring& folder) {
  WIN32_FIND_DATAW found;
  const HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
  for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search, &found)) {
    const std::wstring name = found.cFileName, child = folder + L"\\" + name;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      if (name != L"." && name != L"..") removeTree(child);
    } else {
      SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
      DeleteFileW(child.c_str());
    }
  }
  if (search != INVALID_HANDLE_VALUE) FindClose(search);
  RemoveDirectoryW(folder.c_str());
}
