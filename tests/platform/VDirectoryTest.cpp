#include "platform/VDirectory.h"

#include <gtest/gtest.h>

#include "platform/VFile.h"
#include "platform/fileAttributes.h"
#include "tests/platform/raised.h"
#include "tests/driver/childProcess.h"

namespace {

struct Folders : ::testing::Test {
  ScratchFolder folder{L"kestrin_folders_"};
};

TEST_F(Folders, CreateDirectoryMakesEveryMissingLevelAndAttributesReachLongPaths) {
  std::wstring deep = folder.path;  // beyond MAX_PATH
  for (wchar_t c : {L'a', L'b', L'c', L'd', L'e'}) deep += L"\\" + std::wstring(70, c);
  VDirectory::createDirectory(deep + L"\\", nullptr);
  bool isDirectory = false;
  EXPECT_TRUE(fileExist(deep, &isDirectory));
  EXPECT_TRUE(isDirectory);
  const std::wstring file = deep + L"\\a.txt";
  VFile(L"\\\\?\\" + file, GENERIC_WRITE, 0, CREATE_NEW, 0);
  VDirectory::createDirectory(deep, nullptr);  // what exists is accepted, a file under the name too
  VDirectory::createDirectory(file, nullptr);
  EXPECT_TRUE(fileExist(file, &isDirectory));
  EXPECT_FALSE(isDirectory);
  const uint32_t marks = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN;
  setFileAttributes(file, marks);
  EXPECT_EQ(getFileAttributes(file) & marks, marks);
  setFileAttributes(file, FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(getFileAttributes(file) & marks, 0u);
  bool untouched = true;
  EXPECT_FALSE(fileExist(deep + L"\\missing\\x", &untouched));
  EXPECT_TRUE(untouched);

  // Messages name the caller's path, without the long-path prefix.
  const std::wstring missing = deep + L"\\missing.txt";
  const auto underFile = raised<vosexception>([&] { VDirectory::createDirectory(file + L"\\x", nullptr); });
  const auto get = raised<VFileNotFoundException>([&] { getFileAttributes(missing); });
  const auto set = raised<VFileNotFoundException>([&] { setFileAttributes(missing, 0); });
  const auto invalid = raised<vosexception>([&] { fileExist(deep + L"\\a|b"); });
  EXPECT_NE(underFile.message.find(L" at CreateDirectory(" + file + L"\\x)"), std::wstring::npos);
  EXPECT_NE(get.message.find(L" at GetFileAttributes(" + missing + L")"), std::wstring::npos);
  EXPECT_NE(set.message.find(L" at SetFileAttributes(" + missing + L")"), std::wstring::npos);
  EXPECT_NE(invalid.message.find(L" at retrieves attributes for file or directory " + deep + L"\\a|b"),
            std::wstring::npos);
  EXPECT_EQ(site(underFile) + " " + site(get) + " " + site(set) + " " + site(invalid),
            "makeDir:44 getFileAttributes:51 setFileAttributes:58 fileExist:89");
}

TEST_F(Folders, CreateDirectoryRefusesNamesWithoutAnExistingRoot) {
  ASSERT_TRUE(SetCurrentDirectoryW(folder.path.c_str()));
  for (const wchar_t* name : {L"", L"\\\\/", L"relative"}) {
    const auto wrong = raised<ArgumentException>([&] { VDirectory::createDirectory(name, nullptr); });
    EXPECT_EQ(wrong.message, L"Unable to create directory with wrong name");
    EXPECT_EQ(site(wrong), "VDirectory::createDirectory:100");
  }
  EXPECT_FALSE(fileExist(folder.path + L"\\relative"));
  SetCurrentDirectoryW(L"C:\\");  // so that the folder can go

  wchar_t missing = L'Z';
  while (GetLogicalDrives() & (1u << (missing - L'A'))) --missing;
  const std::wstring volume = std::wstring(1, missing) + L":";
  const auto noVolume = raised<vosexception>([&] { VDirectory::createDirectory(volume + L"\\a\\b", nullptr); });
  EXPECT_NE(noVolume.message.find(L" at CreateDirectory(" + volume + L")"), std::wstring::npos);
}

}  // namespace
