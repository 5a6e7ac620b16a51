#pragma once
// What the file-system tests share: a scratch folder of the test process's own (ctest runs each
// test as a process, side by side), removed with its contents at the end, long paths included;
// and the catching of an expected exception by its class.

#include <windows.h>

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

// Removes folder (with the long-path prefix) and all it holds, read-only files included.
inline void removeTree(const std::wstring& folder) {
  WIN32_FIND_DATAW entry;
  const HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &entry);
  for (bool found = find != INVALID_HANDLE_VALUE; found; found = FindNextFileW(find, &entry)) {
    const std::wstring name = entry.cFileName;
    const std::wstring path = folder + L"\\" + name;
    if (name == L"." || name == L"..") continue;
    SetFileAttributesW(path.c_str(), entry.dwFileAttributes & ~DWORD{FILE_ATTRIBUTE_READONLY});
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      removeTree(path);
    } else {
      DeleteFileW(path.c_str());
    }
  }
  if (find != INVALID_HANDLE_VALUE) FindClose(find);
  RemoveDirectoryW(folder.c_str());
}

class ScratchFolder : public ::testing::Test {
 protected:
  ScratchFolder() {
    wchar_t buffer[MAX_PATH + 1];
    temp.assign(buffer, GetTempPathW(MAX_PATH + 1, buffer));
    root = temp + L"kestrin_files_" + std::to_wstring(GetCurrentProcessId());
    removeTree(L"\\\\?\\" + root);  // left by an earlier process of the same id
    CreateDirectoryW(root.c_str(), nullptr);
  }
  ~ScratchFolder() override {
    SetCurrentDirectoryW(temp.c_str());  // a test may have worked inside
    removeTree(L"\\\\?\\" + root);
  }

  // A path below the scratch folder well beyond MAX_PATH, made of `levels` components.
  std::wstring longName(int levels) const {
    std::wstring path = root;
    for (int i = 0; i < levels; ++i) path += L"\\" + std::wstring(70, wchar_t(L'a' + i));
    return path;
  }

  std::wstring temp;
  std::wstring root;
};

template <class E, class Call>
E raised(Call call) {
  try {
    call();
  } catch (const E& e) {
    return e;
  }
  throw std::runtime_error("the expected exception was not raised");
}
