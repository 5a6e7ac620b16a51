// removeFile against real files under Wine: absence, missing folders, read-only files, files held
// open, and a running program moved out of the way.
#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <thread>

#include "diagnostics/vexception.h"
#include "platform/stringConversion.h"
#include "security/removal/removeFile.h"
#include "security/removal/uniqueName.h"
#include "tests/driver/childProcess.h"
#include "tests/platform/raised.h"

namespace {

bool exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::wstring makeFile(const std::wstring& path) {
  std::ofstream(std::filesystem::path(path)).put('x');
  return path;
}

class RemoveFile : public ::testing::Test {
 protected:
  ScratchFolder folder{L"removal"};
};

TEST_F(RemoveFile, AMissingFileCountsAsRemovedInBothModes) {
  EXPECT_NO_THROW(removeFile(folder.path + L"\\absent.txt", false, false, 0, 0));
  EXPECT_NO_THROW(removeFile(folder.path + L"\\absent.txt", true, true, 0, 0));
}

TEST_F(RemoveFile, AMissingFolderRaisesCode3FromTheAttemptOrFromTheTakeOver) {
  const std::wstring path = folder.path + L"\\no folder\\file.txt";
  const auto attempt = raised<VPathNotFoundException>([&] { removeFile(path, false, false, 0, 0); });
  EXPECT_NE(attempt.message.find(L" at DeleteFile '" + path + L"'"), std::wstring::npos)
      << cstr(attempt.message, CP_UTF8);
  EXPECT_EQ(attempt.sites.at(0).function, "removeFile");
  const auto takeOver = raised<VPathNotFoundException>([&] { removeFile(path, true, false, 0, 0); });
  EXPECT_NE(takeOver.message.find(L"Unable to set the object (" + path + L") owner"), std::wstring::npos)
      << cstr(takeOver.message, CP_UTF8);
}

TEST_F(RemoveFile, AReadOnlyFileIsRefusedWithoutTakeOverAndRemovedWithIt) {
  const std::wstring path = makeFile(folder.path + L"\\readonly.txt");
  ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_THROW(removeFile(path, false, false, 0, 0), VAccessDeniedException);
  EXPECT_TRUE(exists(path));
  removeFile(path, true, false, 0, 0);
  EXPECT_FALSE(exists(path));
}

TEST_F(RemoveFile, AFileHeldOpenIsTriedFourTimesThenRaisesSharingViolation) {
  const std::wstring path = makeFile(folder.path + L"\\held.txt");
  HANDLE held = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  const auto start = std::chrono::steady_clock::now();
  const auto sharing = raised<VSharingViolationException>([&] { removeFile(path, false, false, 3, 100); });
  EXPECT_NE(sharing.message.find(L"DeleteFile '" + path + L"'"), std::wstring::npos);
  // Three pauses of 100 ms (a lower bound only: the pauses are the behaviour under test).
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));

  // Released during the pauses, the file goes on a later attempt.
  std::thread release([&] {
    Sleep(150);
    CloseHandle(held);
  });
  removeFile(path, false, false, 3, 100);
  release.join();
  EXPECT_FALSE(exists(path));
}

TEST_F(RemoveFile, ARunningProgramIsMovedIntoTheRecyclerAndItsNameIsFree) {
  const std::wstring program = folder.path + L"\\running.exe";
  ASSERT_EQ(folder.placeHost(L"crashhost.exe", L"running.exe"), program);
  STARTUPINFOW startup{sizeof(startup)};
  PROCESS_INFORMATION child{};
  const std::wstring eventName = L"kestrin_running_" + std::to_wstring(GetCurrentProcessId());
  HANDLE running = CreateEventW(nullptr, TRUE, FALSE, eventName.c_str());
  std::wstring command = L"\"" + program + L"\" sleep 60000 " + eventName;
  ASSERT_TRUE(CreateProcessW(program.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                             &child));
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
    const std::wstring second = RunTime::uniqueName(random);
    EXPECT_TRUE(std::regex_match(first, form)) << cstr(first, CP_UTF8);
    EXPECT_TRUE(std::regex_match(second, form)) << cstr(second, CP_UTF8);
    EXPECT_NE(first, second);
  }
}

}  // namespace
