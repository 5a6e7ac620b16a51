// removeFile on real files: absent, in a missing folder, read-only, held open, or a mapped program image.
#include "security/removal/removeFile.h"

#include <gtest/gtest.h>

#include <regex>
#include <thread>

#include "security/removal/uniqueName.h"
#include "tests/driver/childProcess.h"
#include "tests/platform/raised.h"

namespace {

bool exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

TEST(RemoveFile, MissingFoldersRaise3ReadOnlyGoesWhenTakenOverHeldAfterRetriesMappedIntoTheRecycler) {
  const ScratchFolder folder{L"removal"};
  for (const bool recycle : {true, false}) {
    EXPECT_NO_THROW(removeFile(folder.path + L"\\absent.txt", true, recycle, 0, 0)) << recycle;
  }
  const std::wstring path = folder.path + L"\\no folder\\file.txt";
  const auto attempt = raised<VPathNotFoundException>([&] { removeFile(path, false, false, 0, 0); });
  EXPECT_NE(attempt.message.find(L" at DeleteFile '" + path + L"'"), std::wstring::npos) << attempt.message;
  EXPECT_EQ(site(attempt), "removeFile:121");
  const auto takeOver = raised<VPathNotFoundException>([&] { removeFile(L"\\\\?\\" + path, true, false, 0, 0); });
  EXPECT_NE(takeOver.message.find(L"Unable to set the object (" + path + L") owner"), std::wstring::npos)
      << takeOver.message;

  const std::wstring readOnly = folder.path + L"\\readonly.txt";
  CloseHandle(CreateFileW(readOnly.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_READONLY, nullptr));
  EXPECT_THROW(removeFile(readOnly, false, false, 0, 0), VAccessDeniedException);
  EXPECT_TRUE(exists(readOnly));
  removeFile(readOnly, true, false, 0, 0);
  EXPECT_FALSE(exists(readOnly));

  // The file is let go halfway between the last attempt of one retry and the next: one retry fewer
  // (or no pause between them) and the file is still held at the last attempt; one more and it goes.
  const std::wstring busy = folder.path + L"\\held.txt";
  CloseHandle(CreateFileW(busy.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
  const std::pair<int32_t, std::wstring> cases[] = {{1, L"Windows error 32, kept"}, {2, L"nothing raised, gone"}};
  for (const auto& [retries, outcome] : cases) {
    const HANDLE held = CreateFileW(busy.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    std::thread release([held] {
      Sleep(600);
      CloseHandle(held);
    });
    const std::wstring result = failure([&, retries = retries] { removeFile(busy, false, false, retries, 400); });
    release.join();
    EXPECT_EQ(result + (exists(busy) ? L", kept" : L", gone"), outcome);
  }

  // A program's image may be renamed but not deleted while it is mapped, as when it runs.
  const std::wstring program = folder.path + L"\\running.exe";
  ASSERT_TRUE(CopyFileW((executableFolder() + L"\\crashhost.exe").c_str(), program.c_str(), TRUE));
  const HMODULE image = LoadLibraryExW(program.c_str(), nullptr, LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  ASSERT_NE(image, nullptr);
  removeFile(program, false, true, 0, 0);
  EXPECT_FALSE(exists(program));
  FreeLibrary(image);

  const std::wstring name = RunTime::uniqueName(false);
  EXPECT_TRUE(std::regex_match(name, std::wregex(L"[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}")))
      << name;
  EXPECT_NE(name, RunTime::uniqueName(false));
}

}  // namespace
