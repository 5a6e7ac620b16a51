// A host that ends its process with spans still queued loses none of them; a host with span
// logging on also prints each span.

#include <gtest/gtest.h>

#include "tests/support/AgentListener.h"
#include "tests/support/busyExit.h"
#include "tests/support/runProcess.h"

namespace {

// The exit host reporting to hostPort; a host that did not end is a failure of the test.
ProcessResult runExitHost(const std::string& hostPort, int spans, const std::string& mode) {
  const std::string arguments = hostPort + " " + std::to_string(spans) + " " + mode;
  const ProcessResult result =
      runHost(L"jaeger_exit_host.exe", std::wstring(arguments.begin(), arguments.end()), L"", 60000);
  if (!result.finished) ADD_FAILURE() << "the host did not end: " << result.output;
  return result;
}

}  // namespace

// Ended by ExitProcess, the host's flush at process end sends what waits; a datagram its killed
// sender had in flight is not sent again and is counted as lost at exit instead, which the
// logged flush reports ("at exit <sent> spans sent, <lost> lost", for each of the senders).
// Background threads that never got to send before exit are made up for at process end.
TEST(JaegerExit, QueuedSpansAreSentHoweverTheHostEnds) {
  for (const char* mode : {"return", "exit", "global", "ucrt-exit", "logged-exitprocess", "stalled-exit"}) {
    testsupport::AgentListener listener;
    const ProcessResult host = runExitHost(listener.hostPort(), 250, mode);
    ASSERT_TRUE(host.finished && host.exitCode == 0) << mode << ": " << host.output;
    size_t lostAtExit = 0;
    const std::string marker = "jaegertracing: at exit ";
    for (size_t at = host.output.find(marker); at != std::string::npos; at = host.output.find(marker, at + 1)) {
      const size_t lost = host.output.find(" spans sent, ", at);
      if (lost != std::string::npos) lostAtExit += std::stoul(host.output.substr(lost + 13));
    }
    // What was lost at exit may have left before its sender was killed.
    auto spans = listener.waitForSpans(250 - lostAtExit, std::chrono::seconds(10));
    EXPECT_GE(spans.size(), 250u - lostAtExit) << mode << ", " << lostAtExit << " lost at exit";
    EXPECT_LE(spans.size(), 250u) << mode;
    ASSERT_FALSE(spans.empty()) << mode;
    EXPECT_EQ(std::string("exit.") + mode, spans[0].service);
  }
}

TEST(JaegerExit, LoggingWritesEachReportedSpanAsOneLineToStandardError) {
  testsupport::AgentListener listener;
  const ProcessResult host = runExitHost(listener.hostPort(), 3, "log");
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

// Hosts that end while four threads trace at full speed, or right after a burst: none hangs,
// none sends a span twice, and every span finished before the exit call arrives, but for the
// datagram each sender killed by ExitProcess may have had in flight, which is not sent again,
// and what the tracer counted as dropped (no sender kept up). The long loop of such exits is in
// the benchmark.
TEST(JaegerExit, ExitsUnderLoadNeverHangAndLoseOnlyWhatWasInFlight) {
  struct Case {
    const char* mode;
    int amount;  // spans of a burst, or ms of tracing
  };
  for (const Case& c : {Case{"busy-exitprocess", 150}, Case{"busy-exit", 150}, Case{"busy-return", 150},
                        Case{"exitprocess", 10000}}) {
    for (int round = 0; round < 2; ++round) {
      testsupport::AgentListener listener(0, testsupport::AgentListener::Record::SummaryOnly);
      const ProcessResult host = runExitHost(listener.hostPort(), c.amount, c.mode);
      const testsupport::AgentSummary summary = listener.stop();
      ASSERT_TRUE(host.finished && host.exitCode == 0) << c.mode << ": " << host.output;
      EXPECT_EQ(0, summary.undecodable) << c.mode;
      EXPECT_EQ(0, summary.duplicates) << c.mode;
      int64_t finished = c.amount, missing = summary.missingBelow("exit span", c.amount);
      if (std::string(c.mode).compare(0, 5, "busy-") == 0) {
        const testsupport::BusyExitCount busy = testsupport::countBusyExit(host.output, summary, "");
        ASSERT_EQ(testsupport::kBusyExitThreads, busy.threadsCounted) << host.output;
        finished = busy.finished;
        missing = busy.missing - std::stoll(host.output.substr(host.output.find("dropped ") + 8));
      }
      EXPECT_GT(finished, 0) << c.mode;
      EXPECT_LE(missing, testsupport::mostSpansInFlightAtExit()) << c.mode << ": " << missing << " of " << finished << " missing";
    }
  }
}

// A thread killed while tracing, perhaps inside one of the tracer's locks: the others go on
// tracing, or wait without burning the processor (a spinning wait took 300 ms of it and more).
TEST(JaegerExit, AThreadKilledWhileTracingLeavesNoOtherSpinning) {
  for (int round = 0; round < 4; ++round) {
    testsupport::AgentListener listener(0, testsupport::AgentListener::Record::SummaryOnly);
    const ProcessResult host = runExitHost(listener.hostPort(), 20 + 17 * round, "busy-kill");
    ASSERT_TRUE(host.finished) << host.output;
    const std::string label = "after the kill ";
    const size_t at = host.output.find(label);
    ASSERT_NE(std::string::npos, at) << host.output;
    const long spans = std::stol(host.output.substr(at + label.size()));
    const long cpuMs = std::stol(host.output.substr(host.output.find("spans, ", at) + 7));
    EXPECT_TRUE(spans > 0 || cpuMs < 100) << host.output;
  }
}
