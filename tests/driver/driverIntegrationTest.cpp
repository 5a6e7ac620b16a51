// The driver with the real provider and Jaeger client: spans checked at the agent listener.
#include <thread>

#include "diagnostics/ExecuteContext.h"
#include "driver/OpenTracingDriver.h"
#include "driver/OpenTracingDriverState.h"
#include "tests/provider/providerTestSupport.h"
#include "tests/support/busyExit.h"
#include "tests/support/runProcess.h"

using Traced = TracingOn;

// Two threads open the first spans at once: one provider and tracer, so both under one root span.
TEST_F(Traced, SampleHostTracesAcrossThreadsModulesAndIntoItsChild) {
  const ProcessResult run = runHost(L"samplehost.exe", L"trace");
  ASSERT_TRUE(run.finished) << "the host hangs";
  EXPECT_EQ(run.exitCode, 0u) << run.output;

  // Parent: root, 2 x loadRecords, 2 x parseRecord, launchChild, moduleWork; child: root, 2 spans.
  const std::vector<ReceivedSpan> spans = agent.waitForSpans(10, std::chrono::seconds(60));
  ASSERT_EQ(spans.size(), 10u);
  const ReceivedSpan& root = spanNamed(spans, "Root Span for module: ");  // one tracer holder, ended at exit
  for (const ReceivedSpan& span : spans) EXPECT_EQ(span.traceIdLow, root.traceIdLow) << span.operationName;
  const ReceivedSpan& launch = spanNamed(spans, "NEW: launchChild");
  EXPECT_TRUE(childOf(spanNamed(spans, "CHILD: moduleWork"), launch)) << "two modules, one tracer and one current span";
  EXPECT_TRUE(childOf(spanNamed(spans, "Propagated Root Span for module: "), launch)) << "the child continues";
}

// exit() during the first span's load of the provider, which waits for the exit lock, is bounded.
TEST_F(Traced, UnloadingTheLastHolderOrExitingDuringTheFirstSpanEndsWithoutDeadlock) {
  const ProcessResult unload = runHost(L"samplehost.exe", L"unload");
  ASSERT_TRUE(unload.finished) << "the unload hangs";
  EXPECT_EQ(unload.exitCode, 0u) << unload.output;
  EXPECT_NE(unload.output.find("unloadWork traced=1\r\nunloaded"), std::string::npos) << unload.output;
  const std::vector<ReceivedSpan> spans = agent.waitForSpans(2, std::chrono::seconds(60));
  ASSERT_EQ(spans.size(), 2u);
  EXPECT_TRUE(childOf(spanNamed(spans, "NEW: unloadWork"), spanNamed(spans, "Root Span for module: ")));

  const ProcessResult exiting = runHost(L"samplehost.exe", L"exit-at-first-span", L"", 60000);
  ASSERT_TRUE(exiting.finished) << "the exit deadlocks";
  EXPECT_EQ(exiting.exitCode, 0u) << exiting.output;
  EXPECT_NE(exiting.output.find("first span pending=1"), std::string::npos) << exiting.output;
}

// exit() and a return from main send every span finished before; ExitProcess may lose a few.
TEST(TracedExits, HostsEndingWhileThreadsTraceThroughTheDriverNeverHangNorResend) {
  ProductSettings values;
  values.set(L"opentracing_enabled", 1);
  for (const std::wstring mode : {L"exitprocess", L"exit", L"return", L"exitprocess", L"exit", L"return"}) {
    SCOPED_TRACE(std::string(mode.begin(), mode.end()));
    testsupport::AgentListener listener(6831, testsupport::AgentListener::Record::SummaryOnly);
    const ProcessResult host = runHost(L"driver_exit_host.exe", L"150 " + mode, L"", 60000);
    const testsupport::AgentSummary summary = listener.stop();
    ASSERT_TRUE(host.finished) << "the host hangs: " << host.output;
    ASSERT_EQ(host.exitCode, 0u) << host.output;
    EXPECT_EQ(summary.undecodable, 0);
    EXPECT_EQ(summary.duplicates, 0);
    const testsupport::BusyExitCount busy = testsupport::countBusyExit(host.output, summary, "NEW: ");
    ASSERT_EQ(busy.threadsCounted, testsupport::kBusyExitThreads) << host.output;
    EXPECT_LE(busy.missing, mode == L"exitprocess" ? testsupport::mostSpansInFlightAtExit() : 0)
        << busy.missing << " of " << busy.finished << " finished spans missing";
  }
}

// A span open across the end of tracing does nothing after it, and the provider stays loaded.
TEST(TracedLoad, SixtyFourThreadsAtFullSpeedLoseNoSpanAndEndingTracingLeavesSpansThatDoNothing) {
  constexpr int kThreads = 64;
  constexpr int kSpansEach = 2000;
  ProductSettings values;
  values.set(L"opentracing_enabled", 1);
  SetEnvironmentVariableW(kSpanContextVariable, nullptr);
  testsupport::AgentListener agent(6831, testsupport::AgentListener::Record::SummaryOnly);
  const auto openAcrossTheEnd = OpenTracingDriver::StartSpan("busy", 1, "");
  std::vector<std::thread> threads;
  for (int k = 0; k < kThreads; ++k) {
    threads.emplace_back([k] {
      for (int i = 0; i < kSpansEach; ++i) OpenTracingDriver::StartSpan("t" + std::to_string(k), i, "");
    });
  }
  for (std::thread& thread : threads) thread.join();
  getExecuteContext()->driverState->endTracing();
  openAcrossTheEnd->SetTag("Round", "after the end");
  EXPECT_FALSE(OpenTracingDriver::StartSpan("busy", 2, "")->IsEnabled()) << "a span started after the end is real";
  EXPECT_FALSE(OpenTracingDriver::IsEnabled());
  EXPECT_NE(GetModuleHandleW(L"opentracingprovider.dll"), nullptr) << "the provider stays loaded";
  const testsupport::AgentSummary summary = agent.stop();
  EXPECT_EQ(summary.undecodable, 0);
  EXPECT_EQ(summary.duplicates, 0);
  EXPECT_EQ(summary.spans, int64_t{kThreads} * kSpansEach + 1);
  for (int k = 0; k < kThreads; ++k) EXPECT_EQ(summary.missingBelow("NEW: t" + std::to_string(k), kSpansEach), 0) << k;
}
