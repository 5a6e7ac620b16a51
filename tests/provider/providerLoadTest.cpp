// Many threads tracing through the provider's exports as fast as they go, every span counted
// at the independent decoder.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "tests/provider/providerTestSupport.h"

using OpenTracingDriver::TracerPtr;

// Each thread k opens and closes spans "NEW: t<k> <i>" (function t<k>, line i) one after another.
TEST(ProviderLoad, SixtyFourThreadsAtFullSpeedLoseNoSpan) {
  const int threads = 64, spansEach = 10000;
  AgentPortListener agent(testsupport::AgentListener::Record::SummaryOnly);
  const ProviderLibrary provider;
  TracerPtr tracer(provider.getTracer());
  std::vector<std::thread> workers;
  for (int k = 0; k < threads; ++k) {
    workers.emplace_back([&provider, &tracer, k, spansEach] {
      const std::string function = "t" + std::to_string(k);
      for (int i = 0; i < spansEach; ++i) openSpan(provider, tracer, function, i);
    });
  }
  for (auto& worker : workers) worker.join();
  tracer.reset();
  const testsupport::AgentSummary summary = agent.flushAndSummarize();

  EXPECT_EQ(0, summary.undecodable);
  EXPECT_EQ(0, summary.duplicates);
  // Every thread's spans and the root span.
  std::string groups;
  for (const auto& group : summary.groups) {
    int64_t count = 0;
    for (const auto& range : group.second) count += range.second - range.first + 1;
    if (group.first.compare(0, 6, "NEW: t") != 0 || count != spansEach)
      groups += " \"" + group.first + "\"=" + std::to_string(count);
  }
  for (const auto& service : summary.services) groups += " service " + service.first + "=" + std::to_string(service.second);
  EXPECT_EQ(int64_t(threads) * spansEach + 1, summary.spans) << "other groups:" << groups;
  for (int k = 0; k < threads; ++k) {
    EXPECT_EQ(0, summary.missingBelow("NEW: t" + std::to_string(k), spansEach)) << "thread " << k;
  }
}
