// Many threads tracing through the provider's exports as fast as they go, every span counted
// at the independent decoder.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "tests/provider/ProviderLibrary.h"
#include "tests/support/AgentListener.h"

// Each thread k opens and closes spans "NEW: t<k> <i>" (function t<k>, line i) one after another.
TEST(ProviderLoad, SixtyFourThreadsAtFullSpeedLoseNoSpan) {
  const int threads = 64, spansEach = 10000;
  testsupport::AgentListener agent(6831, testsupport::AgentListener::Record::SummaryOnly);
  const ProviderLibrary provider;
  OpenTracingDriver::TracerPtr tracer(provider.getTracer());
  std::vector<std::thread> workers;
  for (int k = 0; k < threads; ++k) {
    workers.emplace_back([&provider, &tracer, k, spansEach] {
      const std::string function = "t" + std::to_string(k);
      for (int i = 0; i < spansEach; ++i) provider.open(tracer, function, i);
    });
  }
  for (auto& worker : workers) worker.join();
  tracer.reset();
  const testsupport::AgentSummary summary = agent.stop();

  EXPECT_EQ(0, summary.undecodable);
  EXPECT_EQ(0, summary.duplicates);
  // Every thread's spans and the root span.
  EXPECT_EQ(int64_t(threads) * spansEach + 1, summary.spans);
  for (int k = 0; k < threads; ++k) {
    EXPECT_EQ(0, summary.missingBelow("NEW: t" + std::to_string(k), spansEach)) << "thread " << k;
  }
}
