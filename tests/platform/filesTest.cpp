// Files, folders and their listing against real files, beyond MAX_PATH too.
#include "platform/VFile.h"

#include <gtest/gtest.h>

#include "platform/VDateTime.h"
#include "platform/VDirectory.h"
#include "platform/VFileFinder.h"
#include "platform/fileAttributes.h"
#include "tests/driver/childProcess.h"
#include "tests/platform/raised.h"

struct Files : ::testing::Test {
  ~Files() override { SetCurrentDirectoryW(L"C:\\"); }  // a test may work inside the folder, which must go
  ScratchFolder folder{L"kestrin_files_"};
  const std::wstring& root = folder.path;
};

TEST_F(Files, FailuresComeByClassNamingTheFileWhichStaysHeldAndSeekReportsEveryPosition) {
  const std::wstring path = root + L"\\held.log";
  VFile file(path, GENERIC_READ | GENERIC_WRITE, 0, CREATE_NEW, FILE_ATTRIBUTE_NORMAL);
  const auto missing =
      raised<VFileNotFoundException>([&] { file.open(root + L"\\missing.log", GENERIC_READ, 0, OPEN_EXISTING, 0); });
  EXPECT_NE(missing.message.find(L" at Open file '" + root + L"\\missing.log'"), std::wstring::npos);
  raised<VSharingViolationException>([&] { VFile(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, 0); });
  EXPECT_EQ(file.fileName(), path);
  file.write("abcd", 4, true);
  EXPECT_EQ(file.seek(0, nullptr, FILE_END), 4u);
  int32_t high = 0;
  SetLastError(ERROR_ACCESS_DENIED);  // a stale error must not turn this position into a failure
  EXPECT_EQ(file.seek(-1, &high, FILE_BEGIN), 0xFFFFFFFFu);
  EXPECT_EQ(high, 0);

  const auto negative = raised<vosexception>([&] { file.seek(-10, nullptr, FILE_BEGIN); });
  EXPECT_EQ(negative.code, static_cast<uint32_t>(ERROR_NEGATIVE_SEEK));
  EXPECT_NE(negative.message.find(L" at Unable seek in file '" + path + L"'"), std::wstring::npos);
  const std::wstring data = root + L"\\data.bin";
  VFile readOnly(data, GENERIC_READ, FILE_SHARE_READ, CREATE_NEW, 0);
  const auto denied = raised<VAccessDeniedException>([&] { readOnly.write("x", 1, false); });
  EXPECT_NE(denied.message.find(L" at Write to file '" + data + L"'"), std::wstring::npos);
  EXPECT_EQ(site(missing) + " " + site(negative) + " " + site(denied),
            "VFile::open:104 VFile::seek:180 VFile::write:130");
}

// A Linux size limit beneath Wine takes a write in part and WriteFile reports success, as a full disk.
TEST_F(Files, APartialWriteRaisesOnlyWhenAllWasAsked) {
  const std::wstring path = root + L"\\partial.bin";
  const std::string linuxPath(path.begin(), path.end());
  const int status = runLinuxShell(root, "trap '' XFSZ; prlimit --fsize=1048576 " +
                                             wineCommand(executableFolder() + L"\\partial_write_host.exe") + " '" +
                                             linuxPath + "' >out 2>&1");
  const std::string output = readBytes(root + L"\\out");
  ASSERT_EQ(status, 0) << output;
  EXPECT_EQ(output, "raised 132 Unable to write 2097152 bytes into file '" + linuxPath +
                        "'\r\nwrote\r\n");  // standard output in text mode
}

TEST_F(Files, FoldersAreMadeAtEveryMissingLevelFromAnExistingRootAndListedBeyondMaxPath) {
  VFileFinder finder;
  EXPECT_FALSE(finder.first(root + L"\\*.dmp"));
  EXPECT_FALSE(finder.first(root + L"\\missing\\*"));

  std::wstring deep = root;
  for (wchar_t c : {L'a', L'b', L'c', L'd', L'e'}) deep += L"\\" + std::wstring(70, c);
  VDirectory::createDirectory(deep + L"\\sub\\", nullptr);
  bool isDirectory = false;
  EXPECT_TRUE(fileExist(deep + L"\\sub", &isDirectory));
  EXPECT_TRUE(isDirectory);
  const std::wstring file = deep + L"\\x.dmp";
  const FILETIME written{0x12345678, 0x01D00000};
  SetFileTime(VFile(L"\\\\?\\" + file, GENERIC_WRITE, 0, CREATE_NEW, 0).get(), nullptr, nullptr, &written);
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

  std::wstring seen;
  for (bool found = finder.first(deep + L"\\*"); found; found = finder.next()) {
    if (finder.isDots()) continue;
    seen +=
        finder.fileName() + L" " + (finder.isDirectory() ? L"folder" : VDateTime(finder.lastWriteTime()).format(L"-"));
  }
  const std::wstring listed = L"x.dmp " + VDateTime(written).format(L"-");
  EXPECT_TRUE(seen == L"sub folder" + listed || seen == listed + L"sub folder") << seen;
  EXPECT_EQ(finder.fileName(), L"");
  ASSERT_TRUE(finder.first(deep + L"\\x.*"));  // starts afresh once exhausted
  EXPECT_EQ(finder.fileName(), L"x.dmp");

  // Messages name the caller's path, without the long-path prefix.
  const std::wstring missing = deep + L"\\missing.txt";
  const auto underFile = raised<vosexception>([&] { VDirectory::createDirectory(file + L"\\x", nullptr); });
  const auto get = raised<VFileNotFoundException>([&] { getFileAttributes(missing); });
  const auto set = raised<VFileNotFoundException>([&] { setFileAttributes(missing, 0); });
  const auto invalid = raised<vosexception>([&] { fileExist(deep + L"\\a|b"); });
  const auto pattern = raised<VInvalidNameException>([&] { finder.first(deep + L"\\a|b\\*"); });
  EXPECT_NE(underFile.message.find(L" at CreateDirectory(" + file + L"\\x)"), std::wstring::npos);
  EXPECT_NE(get.message.find(L" at GetFileAttributes(" + missing + L")"), std::wstring::npos);
  EXPECT_NE(set.message.find(L" at SetFileAttributes(" + missing + L")"), std::wstring::npos);
  EXPECT_NE(invalid.message.find(L" at retrieves attributes for file or directory " + deep + L"\\a|b"),
            std::wstring::npos);
  EXPECT_NE(pattern.message.find(L" at FindFirstFile(" + deep + L"\\a|b\\*)"), std::wstring::npos);
  EXPECT_EQ(site(underFile) + " " + site(get) + " " + site(set) + " " + site(invalid) + " " + site(pattern),
            "makeDir:44 getFileAttributes:51 setFileAttributes:58 fileExist:89 VFileFinder::first:390");

  ASSERT_TRUE(SetCurrentDirectoryW(root.c_str()));
  for (const wchar_t* name : {L"", L"\\\\/", L"relative"}) {
    const auto wrong = raised<ArgumentException>([&] { VDirectory::createDirectory(name, nullptr); });
    EXPECT_EQ(wrong.message, L"Unable to create directory with wrong name");
    EXPECT_EQ(site(wrong), "VDirectory::createDirectory:100");
  }
  EXPECT_FALSE(fileExist(root + L"\\relative"));

  wchar_t drive = L'Z';
  while (GetLogicalDrives() & (1u << (drive - L'A'))) --drive;
  const std::wstring volume = std::wstring(1, drive) + L":";
  const auto noVolume = raised<vosexception>([&] { VDirectory::createDirectory(volume + L"\\a\\b", nullptr); });
  EXPECT_NE(noVolume.message.find(L" at CreateDirectory(" + volume + L")"), std::wstring::npos);
}
