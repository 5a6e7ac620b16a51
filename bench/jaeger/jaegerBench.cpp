// Prints what the Jaeger client costs: ns per span (child start, 3 tags, finish) on one and two
// threads, ns per inject, bytes per span on the wire and memory growth after 1M spans. The agent
// address is a port nobody listens on unless one is given: bench_jaeger [host:port]

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <unordered_map>

#include <windows.h>
#include <psapi.h>

#include <opentracing/propagation.h>

#include "jaegertracing/Tracer.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Writer : opentracing::TextMapWriter {
  opentracing::expected<void> Set(opentracing::string_view key, opentracing::string_view value) const override {
    values[key] = value;
    return {};
  }
  mutable std::unordered_map<std::string, std::string> values;
};

std::shared_ptr<jaegertracing::Tracer> makeTracer(const std::string& agent, int queueSize) {
  return std::dynamic_pointer_cast<jaegertracing::Tracer>(jaegertracing::Tracer::make(
      "bench", jaegertracing::Config(false, jaegertracing::samplers::Config("const", 1),
                                     jaegertracing::reporters::Config(queueSize, std::chrono::seconds(1), false,
                                                                      agent))));
}

double spansNs(jaegertracing::Tracer& tracer, const opentracing::Span& parent, int count) {
  auto start = Clock::now();
  for (int i = 0; i < count; ++i) {
    auto span = tracer.StartSpan("bench child", {opentracing::ChildOf(&parent.context())});
    span->SetTag("Name", "bench");
    span->SetTag("Function", "spansNs");
    span->SetTag("Line", 42);
  }
  return std::chrono::duration<double, std::nano>(Clock::now() - start).count() / count;
}

size_t workingSet() {
  PROCESS_MEMORY_COUNTERS counters = {};
  GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
  return counters.WorkingSetSize;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string agent = argc > 1 ? argv[1] : "127.0.0.1:6899";
  auto tracer = makeTracer(agent, 100000);
  auto parent = tracer->StartSpan("bench parent");
  spansNs(*tracer, *parent, 10000);  // warm-up
  std::printf("span (child start + 3 tags + finish), 1 thread: %.0f ns\n", spansNs(*tracer, *parent, 50000));

  double perThread[2] = {};
  std::thread a([&] { perThread[0] = spansNs(*tracer, *parent, 50000); });
  std::thread b([&] { perThread[1] = spansNs(*tracer, *parent, 50000); });
  a.join();
  b.join();
  std::printf("span, 2 threads at once: %.0f and %.0f ns\n", perThread[0], perThread[1]);

  Writer writer;
  const int injects = 100000;
  auto start = Clock::now();
  for (int i = 0; i < injects; ++i) tracer->Inject(parent->context(), writer);
  std::printf("inject into a text map: %.0f ns\n",
              std::chrono::duration<double, std::nano>(Clock::now() - start).count() / injects);

  tracer->Close();
  auto stats = tracer->statistics();
  std::printf("wire: %.1f bytes per span (%llu spans in %llu datagrams), dropped %llu\n",
              stats.reported ? double(stats.bytesSent) / stats.reported : 0.0,
              static_cast<unsigned long long>(stats.reported), static_cast<unsigned long long>(stats.datagrams),
              static_cast<unsigned long long>(stats.droppedQueueFull + stats.droppedTooLarge));

  // Sustained at the provider's settings (queue 100, flush 1 s): spans in bursts of 25 a ms.
  auto steady = makeTracer(agent, 100);
  auto steadyParent = steady->StartSpan("steady parent");
  size_t before = workingSet();
  start = Clock::now();
  for (int burst = 0; burst < 40000; ++burst) {
    for (int i = 0; i < 25; ++i) steady->StartSpan("steady", {opentracing::ChildOf(&steadyParent->context())});
    if (burst % 4 == 3) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  steady->Close();
  auto steadyStats = steady->statistics();
  std::printf("1M spans at queue 100: %.0f spans/s, dropped %llu (%.2f%%), working set +%.1f MB\n",
              1000000 / seconds, static_cast<unsigned long long>(steadyStats.droppedQueueFull),
              100.0 * steadyStats.droppedQueueFull / 1000000, (double(workingSet()) - double(before)) / 1048576);
  return 0;
}
