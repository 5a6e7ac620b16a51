// recyclerPath on a drive of its own (Q:, a folder of the build tree that the test set-up maps
// into the Wine prefix), with its spans at the agent listener.
#include "security/removal/recyclerPath.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "diagnostics/vexception.h"
#include "tests/driver/childProcess.h"
#include "tests/support/AgentListener.h"
#include "tests/support/productSettings.h"

namespace {

const std::wstring recycler = L"Q:\\Recycler";
const std::wstring inner = L"Q:\\Recycler\\{86066D57-9347-46a7-B4DB-971D9EF36D29}";

FILETIME created(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  EXPECT_TRUE(GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data));
  EXPECT_TRUE(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
  return data.ftCreationTime;
}

TEST(RecyclerVolume, ProcessesRacingToMakeTheFoldersAllGetThemOnceAndTheSpansArrive) {
  RemoveDirectoryW(inner.c_str());
  RemoveDirectoryW(recycler.c_str());
  ASSERT_EQ(GetFileAttributesW(recycler.c_str()), INVALID_FILE_ATTRIBUTES);
  const std::wstring eventName = L"kestrin_recycler_race_" + std::to_wstring(GetCurrentProcessId());
  HANDLE go = CreateEventW(nullptr, TRUE, FALSE, eventName.c_str());
  ProcessResult results[4];
  std::vector<std::thread> racers;
  for (int i = 0; i < 4; ++i) {
    racers.emplace_back(
        [&, i] { results[i] = runProcess(executableFolder() + L"\\crashhost.exe", L"recycler Q:\\r " + eventName); });
  }
  Sleep(1000);  // all waiting on the event
  SetEvent(go);
  for (std::thread& racer : racers) racer.join();
  for (const ProcessResult& result : results)
    EXPECT_EQ(result.output, std::string(inner.begin(), inner.end()) + "\r\n");
  CloseHandle(go);
  const FILETIME made = created(inner);

  ProductSettings tracing;
  tracing.set(L"opentracing_enabled", 1);
  testsupport::AgentListener agent{6831};
  EXPECT_EQ(recyclerPath(L"Q:\\some\\file.txt"), inner);
  EXPECT_EQ(recyclerPath(L"q:\\other.txt"), inner);
  const FILETIME again = created(inner);
  EXPECT_EQ(CompareFileTime(&made, &again), 0) << "made again";
  // A volume that is not there: the span is marked failed and tagged with the failure.
  EXPECT_THROW(recyclerPath(L"Y:\\absent\\file.txt"), vexception);

  int traced = 0;
  int failed = 0;
  for (const testsupport::ReceivedSpan& span : agent.waitForSpans(3)) {
    const testsupport::ReceivedTag* function = span.tag("Function");
    if (function == nullptr || function->value != "recyclerPath") continue;
    ++traced;
    if (span.tag("error") == nullptr) continue;
    ++failed;
    const testsupport::ReceivedTag* kind = span.tag("vexception");
    const testsupport::ReceivedTag* description = span.tag("error_description");
    ASSERT_TRUE(kind != nullptr && description != nullptr);
    EXPECT_NE(kind->value.find("Y:\\absent\\file.txt"), std::string::npos) << kind->value;
    EXPECT_EQ(description->value, "Unable to call recyclerPath(Y:\\absent\\file.txt)");
  }
  EXPECT_EQ(traced, 3);
  EXPECT_EQ(failed, 1);
}

}  // namespace
