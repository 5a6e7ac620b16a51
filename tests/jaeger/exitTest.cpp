// Hosts that end their process with spans queued, or while threads trace.

#include <gtest/gtest.h>

#include "tests/support/AgentListener.h"
#include "tests/support/busyExit.h"
#include "tests/support/runProcess.h"

// ExitProcess may lose the datagram each killed sender had in flight, which the logged flush counts.
TEST(JaegerExit, HostsEndingAnyWayNeverHangNorResendAndLoseOnlyWhatTheBoundAllows) {
  struct Case {
    std::string mode;
    int amount;  // spans, or ms of tracing before "kill"
    int rounds;
  };
  for (const Case& c : {Case{"return", 250, 1}, Case{"exit", 250, 1}, Case{"global", 250, 1},
                        Case{"ucrt-exit", 250, 1}, Case{"stalled-exit", 250, 1}, Case{"logged-exitprocess", 250, 1},
                        Case{"exitprocess", 10000, 2}, Case{"kill", 20, 4}}) {
    for (int round = 0; round < c.rounds; ++round) {
      testsupport::AgentListener listener(0, testsupport::AgentListener::Record::SummaryOnly);
      const int amount = c.amount + 17 * round;
      const std::string arguments = listener.hostPort() + " " + std::to_string(amount) + " " + c.mode;
      const ProcessResult host =
          runHost(L"jaeger_exit_host.exe", std::wstring(arguments.begin(), arguments.end()), L"", 60000);
      const testsupport::AgentSummary summary = listener.stop();
      ASSERT_TRUE(host.finished && host.exitCode == 7) << c.mode << ": " << host.output;
      EXPECT_EQ(0, summary.undecodable) << c.mode;
      EXPECT_EQ(0, summary.duplicates) << c.mode;
      if (c.mode == "kill") {  // a thread killed perhaps inside a lock: the others trace on or wait idle
        const size_t at = host.output.find("after the kill ");
        ASSERT_NE(std::string::npos, at) << host.output;
        const long spans = std::stol(host.output.substr(at + 15));
        const long processorMs = std::stol(host.output.substr(host.output.find("spans, ", at) + 7));
        EXPECT_TRUE(spans > 0 || processorMs < 100) << host.output;
        continue;
      }
      int64_t mayLose = c.mode == "exitprocess" ? testsupport::mostSpansInFlightAtExit() : 0;
      if (c.mode == "logged-exitprocess") {
        const std::string output = "\n" + host.output, atExit = "jaegertracing: at exit ";
        for (size_t at = output.find(atExit); at != std::string::npos; at = output.find(atExit, at + 1)) {
          mayLose += std::stoll(output.substr(output.find(" spans sent, ", at) + 13));
        }
        size_t lines = 0;  // each span reported is logged as a line of its own
        for (size_t at = output.find("\njaegertracing: span "); at != std::string::npos; ++lines) {
          at = output.find("\njaegertracing: span ", at + 1);
        }
        EXPECT_EQ(size_t(amount), lines) << host.output;
        EXPECT_NE(std::string::npos, output.find(":0:1 \"exit span 249\" start ")) << host.output;
      }
      EXPECT_LE(summary.missingBelow("exit span", amount), mayLose) << c.mode;
    }
  }
}
