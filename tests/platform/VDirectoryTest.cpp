#include "platform/VDirectory.h"

#include <gtest/gtest.h>

#include "diagnostics/vexception.h"
#include "platform/VFile.h"
#include "platform/fileAttributes.h"
#include "tests/platform/fileTests.h"

using Folders = ScratchFolder;

TEST_F(Folders, CreateDirectoryMakesEveryMissingLevelOnceAndAcceptsWhatExists) {
  const std::wstring deep = longName(5);
  VDirectory::createDirectory(deep + L"\\", nullptr);
  bool isDirectory = false;
  EXPECT_TRUE(fileExist(deep, &isDirectory));
  EXPECT_TRUE(isDirectory);
  VFile(L"\\\\?\\" + deep + L"\\kept.txt", GENERIC_WRITE, 0, CREATE_NEW, 0);
  VDirectory::createDirectory(deep, nullptr);
  EXPECT_TRUE(fileExist(deep + L"\\kept.txt", &isDirectory));
  EXPECT_FALSE(isDirectory);
  VDirectory::createDirectory(deep + L"\\kept.txt", nullptr);  // a file under the name is accepted

  const auto underFile = raised<vosexception>([&] { VDirectory::createDirectory(deep + L"\\kept.txt\\x", nullptr); });
  EXPECT_NE(underFile.message.find(L" at CreateDirectory(" + deep + L"\\kept.txt\\x)"), std::wstring::npos);
  EXPECT_EQ(underFile.sites.at(0).function + ":" + std::to_string(underFile.sites[0].line), "makeDir:44");
}

TEST_F(Folders, CreateDirectoryRefusesNamesWithoutAnExistingRoot) {
  ASSERT_TRUE(SetCurrentDirectoryW(root.c_str()));
  for (const wchar_t* name : {L"", L"\\\\/", L"relative"}) {
    const auto wrong = raised<ArgumentException>([&] { VDirectory::createDirectory(name, nullptr); });
    EXPECT_EQ(wrong.message, L"Unable to create directory with wrong name");
    EXPECT_EQ(wrong.sites.at(0).function + ":" + std::to_string(wrong.sites[0].line),
              "VDirectory::createDirectory:100");
  }
  EXPECT_FALSE(fileExist(root + L"\\relative"));

  wchar_t missing = L'Z';
  while (GetLogicalDrives() & (1u << (missing - L'A'))) --missing;
  const std::wstring volume = std::wstring(1, missing) + L":";
  const auto noVolume = raised<vosexception>([&] { VDirectory::createDirectory(volume + L"\\a\\b", nullptr); });
  EXPECT_NE(noVolume.message.find(L" at CreateDirectory(" + volume + L")"), std::wstring::npos);
}

TEST_F(Folders, AttributesReachLongPathsAndMessagesNameTheCallersPath) {
  const std::wstring deep = longName(5);
  VDirectory::createDirectory(deep, nullptr);
  const std::wstring file = deep + L"\\a.txt";
  VFile(L"\\\\?\\" + file, GENERIC_WRITE, 0, CREATE_NEW, 0);
  setFileAttributes(file, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
  EXPECT_EQ(getFileAttributes(file) & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN),
            uint32_t{FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN});
  setFileAttributes(file, FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(getFileAttributes(file) & FILE_ATTRIBUTE_READONLY, 0u);

  bool untouched = true;
  EXPECT_FALSE(fileExist(deep + L"\\missing\\x", &untouched));
  EXPECT_TRUE(untouched);
  const std::wstring missing = deep + L"\\missing.txt";
  const auto get = raised<VFileNotFoundException>([&] { getFileAttributes(missing); });
  EXPECT_NE(get.message.find(L" at GetFileAttributes(" + missing + L")"), std::wstring::npos);
  EXPECT_EQ(get.sites.at(0).line, 51);
  const auto set = raised<VFileNotFoundException>([&] { setFileAttributes(missing, 0); });
  EXPECT_NE(set.message.find(L" at SetFileAttributes(" + missing + L")"), std::wstring::npos);
  EXPECT_EQ(set.sites.at(0).line, 58);
  const auto invalid = raised<vosexception>([&] { fileExist(deep + L"\\a|b"); });
  EXPECT_NE(invalid.message.find(L" at retrieves attributes for file or directory " + deep + L"\\a|b"),
            std::wstring::npos);
  EXPECT_EQ(invalid.sites.at(0).line, 89);
}
