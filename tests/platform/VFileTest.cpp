#include "platform/VFile.h"

#include <gtest/gtest.h>

#include "platform/VDateTime.h"
#include "platform/VDirectory.h"
#include "platform/VFileFinder.h"
#include "tests/driver/childProcess.h"
#include "tests/platform/raised.h"
#include "tests/support/runProcess.h"

namespace {

struct Files : ::testing::Test {
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
  EXPECT_EQ(file.seek(0, nullptr, FILE_END), 0u);
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

// Linux beneath Wine limits a file's size: a write across it is taken in part and WriteFile reports
// success, as on a full disk. The host writes 2 MB under a limit of 1 MB, the signal ignored.
TEST_F(Files, APartialWriteRaisesOnlyWhenAllWasAsked) {
  const std::wstring path = root + L"\\partial.bin";
  const std::string linuxPath(path.begin(), path.end());
  const int status = runLinuxShell(root, "trap '' XFSZ; prlimit --fsize=1048576 " +
                                             wineCommand(executableFolder() + L"\\partial_write_host.exe") + " '" +
                                             linuxPath + "' 2097152 >out 2>&1");
  const std::string output = readBytes(root + L"\\out");
  ASSERT_EQ(status, 0) << output;
  EXPECT_EQ(output, "raised 132 Unable to write 2097152 bytes into file '" + linuxPath +
                        "'\r\nwrote\r\n");  // standard output in text mode
  WIN32_FILE_ATTRIBUTE_DATA written;
  ASSERT_TRUE(GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &written));
  EXPECT_EQ(written.nFileSizeLow, 1048576u);  // the system took the first half
}

TEST_F(Files, FinderMovesBetweenIdlePositionedAndExhausted) {
  VFileFinder finder;
  EXPECT_FALSE(finder.first(root + L"\\*.dmp"));
  EXPECT_TRUE(finder.isDots());
  EXPECT_FALSE(finder.next());
  EXPECT_FALSE(finder.first(root + L"\\missing\\*"));
  const auto invalid = raised<VInvalidNameException>([&] { finder.first(root + L"\\a|b\\*"); });
  EXPECT_NE(invalid.message.find(L" at FindFirstFile(" + root + L"\\a|b\\*)"), std::wstring::npos);
  EXPECT_EQ(invalid.sites.at(0).line, 390);

  std::wstring deep = root;  // beyond MAX_PATH
  for (wchar_t c : {L'a', L'b', L'c', L'd'}) deep += L"\\" + std::wstring(70, c);
  VDirectory::createDirectory(deep + L"\\sub", nullptr);
  const FILETIME written{0x12345678, 0x01D00000};
  SetFileTime(VFile(L"\\\\?\\" + deep + L"\\x.dmp", GENERIC_WRITE, 0, CREATE_NEW, 0).get(), nullptr, nullptr, &written);
  std::wstring seen;
  for (bool found = finder.first(deep + L"\\*"); found; found = finder.next()) {
    if (finder.isDots()) continue;
    seen +=
        finder.fileName() + L" " + (finder.isDirectory() ? L"folder" : VDateTime(finder.lastWriteTime()).format(L"-"));
  }
  const std::wstring file = L"x.dmp " + VDateTime(written).format(L"-");
  EXPECT_TRUE(seen == L"sub folder" + file || seen == file + L"sub folder") << seen.size();
  EXPECT_TRUE(finder.isDots());
  EXPECT_EQ(finder.fileName(), L"");
  EXPECT_FALSE(finder.next());

  ASSERT_TRUE(finder.first(deep + L"\\x.*"));  // starts afresh from any state
  EXPECT_EQ(finder.fileName(), L"x.dmp");
  finder.close();
  EXPECT_FALSE(finder.next());
}

}  // namespace
