// The driver with the real provider and Jaeger client: spans checked at the agent listener.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "diagnostics/ExecuteContext.h"
#include "driver/OpenTracingDriver.h"
#include "driver/OpenTracingDriverState.h"

#include "tests/support/AgentListener.h"
#include "tests/support/busyExit.h"
#include "tests/driver/childProcess.h"
#include "tests/driver/tracingSwitch.h"

namespace {

using testsupport::ReceivedSpan;

std::vector<ReceivedSpan> named(const std::vector<ReceivedSpan>& spans, const std::string& prefix) {
  std::vector<ReceivedSpan> result;
  for (const ReceivedSpan& span : spans) {
    if (span.operationName.compare(0, prefix.size(), prefix) == 0) result.push_back(span);
  }
  return result;
}

const ReceivedSpan* find(const std::vector<ReceivedSpan>& spans, const std::string& prefix) {
  for (const ReceivedSpan& span : spans) {
    if (span.operationName.compare(0, prefix.size(), prefix) == 0) return &span;
  }
  return nullptr;
}

std::string names(const std::vector<ReceivedSpan>& spans) {
  std::string text;
  for (const ReceivedSpan& span : spans) text += "\n  " + span.operationName;
  return text;
}

size_t occurrences(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

class Traced : public ::testing::Test {
 protected:
  Traced() { values.setDword(KEY_WOW64_32KEY, 1); }

  TracingSwitch values;
  // The provider's tracer reports to the agent's fixed port.
  testsupport::AgentListener agent{6831};
};

}  // namespace

// The host's two threads open their first spans at the same moment; the provider is loaded and
// the tracer created once, so both hang under the one root span, which the process's exit ends
// before the provider is freed. The injected span carries the trace into the child.
TEST_F(Traced, SampleHostTracesAcrossThreadsModulesAndIntoItsChild) {
  const ProcessResult run = runProcess(executableFolder() + L"\\samplehost.exe", L"trace");
  ASSERT_TRUE(run.finished) << "the host hangs";
  EXPECT_EQ(run.exitCode, 0u) << run.output;
  EXPECT_EQ(occurrences(run.output, "traced=1"), 8u) << run.output;
  EXPECT_EQ(occurrences(run.output, "traced=0"), 0u) << run.output;

  // Parent: root, 2 x loadRecords, 2 x parseRecord, launchChild, moduleWork; child: root, 2 spans.
  const std::vector<ReceivedSpan> spans = agent.waitForSpans(10, std::chrono::seconds(60));
  ASSERT_EQ(spans.size(), 10u) << names(spans);
  SCOPED_TRACE(names(spans));
  const std::vector<ReceivedSpan> roots = named(spans, "Root Span for module: ");
  ASSERT_EQ(roots.size(), 1u) << "one tracer holder, ended at exit";
  const ReceivedSpan& root = roots[0];
  for (const ReceivedSpan& span : spans) EXPECT_EQ(span.traceIdLow, root.traceIdLow) << span.operationName;

  const std::vector<ReceivedSpan> workers = named(spans, "NEW: worker ");
  ASSERT_EQ(workers.size(), 2u);
  for (const ReceivedSpan& worker : workers) EXPECT_EQ(worker.parentSpanId, root.spanId);
  const std::vector<ReceivedSpan> parses = named(spans, "CHILD: parseRecord");
  ASSERT_EQ(parses.size(), 2u);
  for (const ReceivedSpan& parse : parses) {
    const auto worker = std::find_if(workers.begin(), workers.end(), [&](const ReceivedSpan& w) {
      return w.spanId == parse.parentSpanId;
    });
    EXPECT_NE(worker, workers.end()) << "parseRecord nests under its own thread's loadRecords";
  }
  EXPECT_EQ(std::count_if(parses.begin(), parses.end(), [](const ReceivedSpan& s) { return s.tag("error") != nullptr; }), 1);

  const ReceivedSpan* launch = find(spans, "NEW: launchChild");
  ASSERT_NE(launch, nullptr);
  const ReceivedSpan* moduleWork = find(spans, "CHILD: moduleWork");
  ASSERT_NE(moduleWork, nullptr) << "the second module's span";
  EXPECT_EQ(moduleWork->parentSpanId, launch->spanId) << "two modules, one tracer and one current span";

  const ReceivedSpan* childRoot = find(spans, "Propagated Root Span for module: ");
  ASSERT_NE(childRoot, nullptr);
  EXPECT_EQ(childRoot->parentSpanId, launch->spanId) << "the child continues the injected span";
  const ReceivedSpan* childMain = find(spans, "NEW: childMain");
  ASSERT_NE(childMain, nullptr);
  EXPECT_EQ(childMain->parentSpanId, childRoot->spanId);
}

// The module that created the context is unloaded while it holds the only reference, so its
// release destroys the tracer holder and frees the provider under the loader lock.
TEST_F(Traced, UnloadingTheModuleHoldingTheLastReferenceEndsItsTraceWithoutDeadlock) {
  const ProcessResult run = runProcess(executableFolder() + L"\\samplehost.exe", L"unload");
  ASSERT_TRUE(run.finished) << "the unload hangs";
  EXPECT_EQ(run.exitCode, 0u) << run.output;
  EXPECT_NE(run.output.find("unloadWork traced=1"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("unloaded"), std::string::npos) << run.output;

  const std::vector<ReceivedSpan> spans = agent.waitForSpans(2, std::chrono::seconds(60));
  ASSERT_EQ(spans.size(), 2u) << names(spans);
  SCOPED_TRACE(names(spans));
  const ReceivedSpan* root = find(spans, "Root Span for module: ");
  const ReceivedSpan* work = find(spans, "NEW: unloadWork");
  ASSERT_NE(root, nullptr) << "the root span ends only when the module's release destroys the holder";
  ASSERT_NE(work, nullptr);
  EXPECT_EQ(work->parentSpanId, root->spanId);
}

// exit() ends tracing while holding the run-time's exit lock, and the thread starting the first
// span holds the driver's lock while what it loads waits for that exit lock: the end gives up on
// the tracer after a bounded wait instead of waiting for the thread for ever.
TEST_F(Traced, ExitWhileAnotherThreadStartsTheFirstSpanEndsTheProcess) {
  const ProcessResult run = runProcess(executableFolder() + L"\\samplehost.exe", L"exit-at-first-span", L"", 60000);
  ASSERT_TRUE(run.finished) << "the exit deadlocks";
  EXPECT_EQ(run.exitCode, 0u) << run.output;
  EXPECT_NE(run.output.find("first span pending=1"), std::string::npos)
      << "the thread was to be inside its first span as tracing ended\n" << run.output;
}

// Hosts that end while four threads trace through the driver: none hangs, none sends a span
// twice. Ended by exit() or a return from main, the tracer's end sends every span finished
// before the exit call; ExitProcess stops the senders and loses at most the datagrams they had in
// flight. The long loop of such exits is in the exit benchmark.
TEST(TracedExits, HostsEndingWhileThreadsTraceThroughTheDriverNeverHangNorResend) {
  TracingSwitch values;
  values.setDword(KEY_WOW64_32KEY, 1);
  for (const std::wstring mode : {L"exitprocess", L"exit", L"return"}) {
    for (int round = 0; round < 2; ++round) {
      SCOPED_TRACE(std::string(mode.begin(), mode.end()));
      testsupport::AgentListener listener(6831, testsupport::AgentListener::Record::SummaryOnly);
      const ProcessResult host = runProcess(executableFolder() + L"\\driver_exit_host.exe", L"150 " + mode, L"", 60000);
      const testsupport::AgentSummary summary = listener.stop();
      ASSERT_TRUE(host.finished) << "the host hangs: " << host.output;
      ASSERT_EQ(host.exitCode, 0u) << host.output;
      EXPECT_EQ(summary.undecodable, 0);
      EXPECT_EQ(summary.duplicates, 0);
      const testsupport::BusyExitCount busy = testsupport::countBusyExit(host.output, summary, "NEW: ");
      ASSERT_EQ(busy.threadsCounted, testsupport::kBusyExitThreads) << host.output;
      EXPECT_GT(busy.finished, 0);
      EXPECT_LE(busy.missing, mode == L"exitprocess" ? testsupport::mostSpansInFlightAtExit() : 0)
          << busy.missing << " of " << busy.finished << " finished spans missing";
    }
  }
}

// A process whose executable lets go of the context in exit() while its threads still trace: the
// tracer ends (the root span arrives) but the state and the provider stay, so the threads go on
// with spans that do nothing instead of using what a release would have freed.
TEST_F(Traced, EndingTracingWhileThreadsTraceLeavesThemDoNothingSpansAndTheProviderLoaded) {
  std::atomic<bool> stop{false};
  std::atomic<long> enabledAfterEnd{0};
  std::atomic<bool> ended{false};
  std::vector<std::thread> threads;
  for (int k = 0; k < 4; ++k) {
    threads.emplace_back([&, k] {
      const std::string function = "busy" + std::to_string(k);
      for (int32_t i = 0; !stop; ++i) {
        const bool wasEnded = ended;
        const auto span = OpenTracingDriver::StartSpan(function, i, "");
        span->SetTag("Round", "busy");
        if (wasEnded && span->IsEnabled()) ++enabledAfterEnd;
        Sleep(1);  // a few thousand spans in all, which the listener reads back quickly
      }
    });
  }
  Sleep(300);
  getExecuteContext()->driverState->endTracing();
  ended = true;
  Sleep(300);
  stop = true;
  for (std::thread& thread : threads) thread.join();

  EXPECT_EQ(enabledAfterEnd, 0) << "spans started after the end were real ones";
  EXPECT_FALSE(OpenTracingDriver::IsEnabled());
  EXPECT_NE(GetModuleHandleW(L"opentracingprovider.dll"), nullptr) << "the provider stays loaded";
  // The root span ends last, after every busy span the tracer sent.
  bool rootArrived = false;
  for (int wait = 0; wait < 150 && !rootArrived; ++wait, Sleep(200)) {
    rootArrived = find(agent.spans(), "Root Span for module: ") != nullptr;
  }
  EXPECT_TRUE(rootArrived) << "the ended tracer sent its root span";
}
