#pragma once
// What the file-system tests share: a scratch folder of the test process's own (ctest runs each
// test as a process, side by side), removed with its contents at the end, long paths included.

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "tests/platform/raised.h"
#include "tests/support/removeTree.h"

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
