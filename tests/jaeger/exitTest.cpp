// A host that ends its process with spans still queued loses none of them; a host with span
// logging on also prints each span.

#include <gtest/gtest.h>

#include <windows.h>

#include "tests/support/AgentListener.h"
#include "tests/support/runProcess.h"

namespace {

ProcessResult runHost(const std::string& hostPort, int spans, const std::string& mode) {
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
  return result;
}

}  // namespace

TEST(JaegerExit, QueuedSpansAreSentHoweverTheHostEnds) {
  for (const char* mode : {"return", "exit", "global", "ucrt-exit", "exitprocess"}) {
    testsupport::AgentListener listener;
    const ProcessResult host = runHost(listener.hostPort(), 250, mode);
    ASSERT_TRUE(host.finished && host.exitCode == 0) << mode << ": " << host.output;
    auto spans = listener.waitForSpans(250, std::chrono::seconds(10));
    EXPECT_EQ(250u, spans.size()) << mode;
    if (!spans.empty()) {
      EXPECT_EQ(std::string("exit.") + mode, spans[0].service);
    }
  }
}

TEST(JaegerExit, LoggingWritesEachReportedSpanAsOneLineToStandardError) {
  testsupport::AgentListener listener;
  const ProcessResult host = runHost(listener.hostPort(), 3, "log");
  ASSERT_TRUE(host.finished && host.exitCode == 0) << host.output;
  EXPECT_EQ(3u, listener.waitForSpans(3).size());
  const std::string prefix = "jaegertracing: span ";
  for (int i = 0; i < 3; ++i) {
    const std::string name = "\"exit span " + std::to_string(i) + "\"";
    const size_t at = host.output.find(name);
    ASSERT_NE(std::string::npos, at) << host.output;
    const size_t lineStart = host.output.rfind('\n', at);
    EXPECT_EQ(0u, host.output.compare(lineStart == std::string::npos ? 0 : lineStart + 1, prefix.size(), prefix))
        << host.output;
  }
}

// A host killed by ExitProcess may leave the background thread dead in the middle of packing;
// the flush at detach must give up on what it held rather than wait for it. That happened about
// once in 80 exits, so the exit is repeated.
TEST(JaegerExit, ExitProcessWithSpansInFlightNeverHangs) {
  testsupport::AgentListener listener;
  for (int i = 0; i < 40; ++i) {
    const ProcessResult host = runHost(listener.hostPort(), 250, "exitprocess");
    ASSERT_TRUE(host.finished && host.exitCode == 0) << "exit " << i << ": " << host.output;
  }
}
