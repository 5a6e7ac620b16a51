// A host that ends its process with spans still queued loses none of them.

#include <gtest/gtest.h>

#include <windows.h>

#include "tests/support/AgentListener.h"
#include "tests/support/runProcess.h"

namespace {

DWORD runHost(const std::string& hostPort, int spans, const std::string& mode) {
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring folder(self);
  folder.resize(folder.find_last_of(L'\\') + 1);
  const ProcessResult result =
      runProcess(folder + L"jaeger_exit_host.exe",
                 std::wstring(hostPort.begin(), hostPort.end()) + L" " + std::to_wstring(spans) + L" " +
                     std::wstring(mode.begin(), mode.end()),
                 L"", 60000);
  if (!result.finished) ADD_FAILURE() << "the host did not end: " << result.output;
  return result.finished ? result.exitCode : 0xffffffff;
}

}  // namespace

TEST(JaegerExit, QueuedSpansAreSentHoweverTheHostEnds) {
  for (const char* mode : {"return", "exit", "global", "ucrt-exit", "exitprocess"}) {
    testsupport::AgentListener listener;
    ASSERT_EQ(0u, runHost(listener.hostPort(), 250, mode)) << mode;
    auto spans = listener.waitForSpans(250, std::chrono::seconds(10));
    EXPECT_EQ(250u, spans.size()) << mode;
    if (!spans.empty()) {
      EXPECT_EQ(std::string("exit.") + mode, spans[0].service);
    }
  }
}
