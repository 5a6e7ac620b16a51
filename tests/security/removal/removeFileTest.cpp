// removeFile against real files under Wine: absence, missing folders, read-only files, files held
// open, and a running program moved out of the way.
#include "security/removal/removeFile.h"

#include <gtest/gtest.h>

#include <regex>
#include <thread>

#include "platform/stringConversion.h"
#include "security/removal/uniqueName.h"
#include "tests/driver/childProcess.h"
#include "tests/platform/raised.h"

namespace {

bool exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::wstring makeFile(const std::wstring& path) {
  CloseHandle(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
  return path;
}

class RemoveFile : public ::testing::Test {
 protected:
  ScratchFolder folder{L"removal"};
};

TEST_F(RemoveFile, AMissingFileIsRemovedAMissingFolderRaisesCode3AndAReadOnlyFileGoesOnlyWhenTakenOver) {
  EXPECT_NO_THROW(removeFile(folder.path + L"\\absent.txt", false, false, 0, 0));
  EXPECT_NO_THROW(removeFile(folder.path + L"\\absent.txt", true, true, 0, 0));
  const std::wstring path = folder.path + L"\\no folder\\file.txt";
  const auto attempt = raised<VPathNotFoundException>([&] { removeFile(path, false, false, 0, 0); });
  EXPECT_NE(attempt.message.find(L" at DeleteFile '" + path + L"'"), std::wstring::npos)
      << cstr(attempt.message, CP_UTF8);
  EXPECT_EQ(attempt.sites.at(0).function, "removeFile");
  const auto takeOver = raised<VPathNotFoundException>([&] { removeFile(path, true, false, 0, 0); });
  EXPECT_NE(takeOver.message.find(L"Unable to set the object (" + path + L") owner"), std::wstring::npos)
      << cstr(takeOver.message, CP_UTF8);

  const std::wstring readOnly = makeFile(folder.path + L"\\readonly.txt");
  ASSERT_TRUE(SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_THROW(removeFile(readOnly, false, false, 0, 0), VAccessDeniedException);
  EXPECT_TRUE(exists(readOnly));
  removeFile(readOnly, true, false, 0, 0);
  EXPECT_FALSE(exists(readOnly));
}

// The file is let go halfway between the last attempt of one retry and the next: one retry fewer
// (or no pause between them) and the file is still held at the last attempt; one more and it goes.
TEST_F(RemoveFile, AFileHeldOpenIsRetriedAfterPausesThenRaisesSharingViolation) {
  const std::wstring path = makeFile(folder.path + L"\\held.txt");
  const auto releasedDuring = [&](int32_t retries) {
    const HANDLE held = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    std::thread release([held] {
      Sleep(600);
      CloseHandle(held);
    });
    try {
      removeFile(path, false, false, retries, 400);
    } catch (...) {
      release.join();
      throw;
    }
    release.join();
  };
  const auto sharing = raised<VSharingViolationException>([&] { releasedDuring(1); });
  EXPECT_NE(sharing.message.find(L"DeleteFile '" + path + L"'"), std::wstring::npos);
  EXPECT_TRUE(exists(path));
  releasedDuring(2);
  EXPECT_FALSE(exists(path));
}

TEST_F(RemoveFile, ARunningProgramIsMovedIntoTheRecyclerAndItsNameIsFree) {
  const std::wstring program = folder.placeHost(L"crashhost.exe", L"running.exe");
  STARTUPINFOW startup{sizeof(startup)};
  PROCESS_INFORMATION child{};
  const std::wstring eventName = L"kestrin_running_" + std::to_wstring(GetCurrentProcessId());
  HANDLE running = CreateEventW(nullptr, TRUE, FALSE, eventName.c_str());
  std::wstring command = L"\"" + program + L"\" sleep 60000 " + eventName;
  ASSERT_TRUE(
      CreateProcessW(program.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &child));
  ASSERT_EQ(WaitForSingleObject(running, 60000), WAIT_OBJECT_0);
  CloseHandle(running);
  removeFile(program, false, true, 0, 0);
  EXPECT_FALSE(exists(program));
  EXPECT_EQ(WaitForSingleObject(child.hProcess, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  TerminateProcess(child.hProcess, 0);
  WaitForSingleObject(child.hProcess, INFINITE);
  CloseHandle(child.hThread);
  CloseHandle(child.hProcess);
}

TEST(UniqueName, NamesAreFreshLowerCaseUuids) {
  const std::wregex form(L"[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}");
  for (bool random : {false, true}) {
    const std::wstring first = RunTime::uniqueName(random);
    EXPECT_TRUE(std::regex_match(first, form)) << cstr(first, CP_UTF8);
    EXPECT_NE(first, RunTime::uniqueName(random));
  }
}

}  // namespace
