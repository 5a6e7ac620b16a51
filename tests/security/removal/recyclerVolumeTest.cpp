// recyclerPath on a drive of its own (Q:, a folder of the build tree that the test set-up maps
// into the Wine prefix), with its spans at the agent listener.
#include "security/removal/recyclerPath.h"

#include <gtest/gtest.h>

#include <set>
#include <thread>
#include <vector>

#include "diagnostics/vexception.h"
#include "platform/UniqueHandle.h"
#include "tests/support/AgentListener.h"
#include "tests/support/productSettings.h"
#include "tests/support/runProcess.h"

namespace {

TEST(RecyclerVolume, ProcessesRacingToMakeTheFoldersAllGetThemAndTheSpansArrive) {
  const std::wstring inner = L"Q:\\Recycler\\{86066D57-9347-46a7-B4DB-971D9EF36D29}";
  const std::wstring eventName = L"kestrin_recycler_race_" + std::to_wstring(GetCurrentProcessId());
  const UniqueKernelHandle go(CreateEventW(nullptr, TRUE, FALSE, eventName.c_str()));
  ProcessResult results[4];
  std::vector<std::thread> racers;
  for (ProcessResult& result : results) {
    racers.emplace_back([&] { result = runHost(L"crashhost.exe", L"recycler Q:\\r " + eventName); });
  }
  Sleep(1000);  // all waiting on the event
  SetEvent(go.get());
  for (std::thread& racer : racers) racer.join();
  for (const ProcessResult& result : results)
    EXPECT_EQ(result.output, std::string(inner.begin(), inner.end()) + "\r\n");
  EXPECT_EQ(GetFileAttributesW(inner.c_str()), DWORD{FILE_ATTRIBUTE_DIRECTORY});

  ProductSettings tracing;
  tracing.set(L"opentracing_enabled", 1);
  testsupport::AgentListener agent{6831};
  EXPECT_EQ(recyclerPath(L"Q:\\some\\file.txt"), inner);
  EXPECT_EQ(recyclerPath(L"q:\\other.txt"), inner);
  EXPECT_THROW(recyclerPath(L"Y:\\absent\\file.txt"), vexception);
  std::multiset<std::string> outcomes;  // the Windows error text, in the system's language, left out
  for (const testsupport::ReceivedSpan& span : agent.waitForSpans(3)) {
    const testsupport::ReceivedTag* kind = span.tag("vexception");
    const testsupport::ReceivedTag* description = span.tag("error_description");
    if (span.tag("Function") == nullptr || span.tag("Function")->value != "recyclerPath") continue;
    const std::string what =
        kind == nullptr ? "" : kind->value.substr(kind->value.find(" at GetVolumePathName") + 1);
    outcomes.insert(description == nullptr ? "done" : description->value + " | " + what);
  }
  const std::string failed = "Unable to call recyclerPath(Y:\\absent\\file.txt) | at GetVolumePathName"
                             "(Y:\\absent\\file.txt) failed\n   at (recyclerPath line 1036)";
  EXPECT_EQ(outcomes, (std::multiset<std::string>{"done", "done", failed}));
}

}  // namespace
