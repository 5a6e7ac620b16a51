// recyclerPath on a drive of its own (Q:, a folder of the build tree that the test set-up maps
// into the Wine prefix), with its span at the agent listener.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "diagnostics/vexception.h"
#include "platform/stringConversion.h"
#include "security/removal/recyclerPath.h"
#include "tests/driver/childProcess.h"
#include "tests/driver/tracingSwitch.h"
#include "tests/support/AgentListener.h"

namespace {

const std::wstring recycler = L"Q:\\Recycler";
const std::wstring inner = L"Q:\\Recycler\\{86066D57-9347-46a7-B4DB-971D9EF36D29}";

bool isFolder(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

FILETIME created(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data);
  return data.ftCreationTime;
}

void removeRecycler() {
  RemoveDirectoryW(inner.c_str());
  RemoveDirectoryW(recycler.c_str());
}

TEST(RecyclerVolume, TheVolumesFoldersAreMadeOnceAndTheSpanArrives) {
  removeRecycler();
  ASSERT_FALSE(isFolder(recycler));
  TracingSwitch tracing;
  tracing.setDword(KEY_WOW64_32KEY, 1);
  testsupport::AgentListener agent{6831};

  EXPECT_EQ(recyclerPath(L"Q:\\some\\file.txt"), inner);
  ASSERT_TRUE(isFolder(inner));
  const FILETIME first = created(inner);
  Sleep(20);
  EXPECT_EQ(recyclerPath(L"q:\\other.txt"), inner);
  const FILETIME second = created(inner);
  EXPECT_EQ(CompareFileTime(&first, &second), 0);

  // A volume that is not there: the span is marked failed and tagged with the failure.
  EXPECT_THROW(recyclerPath(L"Y:\\absent\\file.txt"), vexception);

  const std::vector<testsupport::ReceivedSpan> spans = agent.waitForSpans(3);
  int traced = 0;
  int failed = 0;
  for (const testsupport::ReceivedSpan& span : spans) {
    const testsupport::ReceivedTag* function = span.tag("Function");
    if (function == nullptr || function->value != "recyclerPath") continue;
    ++traced;
    if (span.tag("error") != nullptr) {
      ++failed;
      const testsupport::ReceivedTag* kind = span.tag("vexception");
      ASSERT_NE(kind, nullptr);
      EXPECT_NE(kind->value.find("Y:\\absent\\file.txt"), std::string::npos) << kind->value;
      const testsupport::ReceivedTag* description = span.tag("error_description");
      ASSERT_NE(description, nullptr);
      EXPECT_EQ(description->value, "Unable to call recyclerPath(Y:\\absent\\file.txt)");
    }
  }
  EXPECT_EQ(traced, 3);
  EXPECT_EQ(failed, 1);
}

TEST(RecyclerVolume, ProcessesRacingToMakeTheFoldersAllGetThem) {
  removeRecycler();
  ASSERT_FALSE(isFolder(recycler));
  const std::wstring eventName = L"kestrin_recycler_race_" + std::to_wstring(GetCurrentProcessId());
  HANDLE go = CreateEventW(nullptr, TRUE, FALSE, eventName.c_str());
  ASSERT_NE(go, nullptr);
  const std::wstring host = executableFolder() + L"\\crashhost.exe";
  std::vector<PROCESS_INFORMATION> racers(4);
  std::vector<HANDLE> readers;
  for (PROCESS_INFORMATION& racer : racers) {
    STARTUPINFOW startup{sizeof(startup)};
    std::wstring command = L"\"" + host + L"\" recycler Q:\\race.txt " + eventName;
    ASSERT_TRUE(CreateProcessW(host.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                               &racer));
  }
  Sleep(1000);  // all waiting on the event
  SetEvent(go);
  for (PROCESS_INFORMATION& racer : racers) {
    EXPECT_EQ(WaitForSingleObject(racer.hProcess, 60000), WAIT_OBJECT_0);
    DWORD code = 99;
    GetExitCodeProcess(racer.hProcess, &code);
    EXPECT_EQ(code, 0u);
    CloseHandle(racer.hThread);
    CloseHandle(racer.hProcess);
  }
  CloseHandle(go);
  EXPECT_TRUE(isFolder(inner));
}

}  // namespace
