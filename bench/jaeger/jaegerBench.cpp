// Prints what the Jaeger client costs: ns per span (child start, 3 tags, finish) on one and two
// threads beside the Wine floor, spans of 2, 32 and 64 threads at once, ns per inject, delivery of a burst and of a paced load at the provider's queue size,
// bytes per span on the wire and memory growth after 1M spans. The spans go to a UDP sink of
// the benchmark's own, which only counts what arrives.

#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <cstdio>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

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

// Receives datagrams on a free loopback port and counts them and their bytes.
class Sink {
 public:
  Sink() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    _socket = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    int buffer = 8 << 20;
    setsockopt(_socket, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&buffer), sizeof buffer);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(_socket, reinterpret_cast<sockaddr*>(&address), sizeof address);
    int length = sizeof address;
    getsockname(_socket, reinterpret_cast<sockaddr*>(&address), &length);
    _port = ntohs(address.sin_port);
    _thread = std::thread([this] {
      std::string datagram(65536, '\0');
      while (recv(_socket, &datagram[0], static_cast<int>(datagram.size()), 0) > 0) ++datagrams;
    });
  }
  ~Sink() {
    closesocket(_socket);
    _thread.join();
  }
  std::string agent() const { return "127.0.0.1:" + std::to_string(_port); }
  std::atomic<uint64_t> datagrams{0};

 private:
  SOCKET _socket;
  int _port = 0;
  std::thread _thread;
};

std::shared_ptr<jaegertracing::Tracer> makeTracer(const std::string& agent, int queueSize) {
  return std::dynamic_pointer_cast<jaegertracing::Tracer>(jaegertracing::Tracer::make(
      "bench", jaegertracing::Config(false, jaegertracing::samplers::Config("const", 1),
                                     jaegertracing::reporters::Config(queueSize, std::chrono::seconds(1), false,
                                                                      agent))));
}

// A span as the product's driver makes it: a child with the three tags the provider sets.
void driverSpan(jaegertracing::Tracer& tracer, const opentracing::StartSpanOptions* options,
                const opentracing::Span& parent) {
  auto span = options ? tracer.StartSpanWithOptions("CHILD: parseRecord 32", *options)
                      : tracer.StartSpan("CHILD: parseRecord 32", {opentracing::ChildOf(&parent.context())});
  span->SetTag("Name", "parseRecord");
  span->SetTag("Function", "parseRecord");
  span->SetTag("Line", 32);
}

// ns per call of f, the median of 9 rounds: a round of 20000 calls takes about 10 ms, short
// enough for a neighbour on the machine to spoil one.
constexpr int kMedianRounds = 9, kMedianCount = 20000;
constexpr double kMedianCalls = kMedianRounds * kMedianCount;

template <typename F>
double medianNs(F f) {
  const int rounds = kMedianRounds, count = kMedianCount;
  std::vector<double> ns;
  for (int round = 0; round < rounds; ++round) {
    auto start = Clock::now();
    for (int i = 0; i < count; ++i) f();
    ns.push_back(std::chrono::duration<double, std::nano>(Clock::now() - start).count() / count);
  }
  std::nth_element(ns.begin(), ns.begin() + rounds / 2, ns.end());
  return ns[rounds / 2];
}

// ns per span; with options given, the caller's building of the options is left out.
double spansNs(jaegertracing::Tracer& tracer, const opentracing::Span& parent,
               const opentracing::StartSpanOptions* options = nullptr) {
  return medianNs([&] { driverSpan(tracer, options, parent); });
}

size_t workingSet() {
  PROCESS_MEMORY_COUNTERS counters = {};
  GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
  return counters.WorkingSetSize;
}

void printDelivery(const char* what, jaegertracing::Tracer& tracer, uint64_t total) {
  auto stats = tracer.statistics();
  std::printf("%s: %llu of %llu sent, dropped %llu, %llu datagrams\n", what,
              static_cast<unsigned long long>(stats.reported), static_cast<unsigned long long>(total),
              static_cast<unsigned long long>(stats.droppedQueueFull + stats.droppedSendFailed + stats.droppedOutOfMemory),
              static_cast<unsigned long long>(stats.datagrams));
}

// A tracer for the per-span figures, a parent for its spans and ready-made options naming it.
struct Traced {
  explicit Traced(const Sink& sink) : tracer(makeTracer(sink.agent(), 100000)), parent(tracer->StartSpan("bench parent")) {
    childOf.references.emplace_back(opentracing::SpanReferenceType::ChildOfRef, &parent->context());
  }
  std::shared_ptr<jaegertracing::Tracer> tracer;
  std::unique_ptr<opentracing::Span> parent;
  opentracing::StartSpanOptions childOf;
};

// Processor time of the calling thread so far, in ns (the system counts it in ticks).
double threadCpuNs() {
  FILETIME created, ended, kernel, user;
  GetThreadTimes(GetCurrentThread(), &created, &ended, &kernel, &user);
  auto ns = [](const FILETIME& t) { return 100.0 * ((static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime); };
  return ns(kernel) + ns(user);
}

// ns per span on two threads at once, the first making spans of a, the second of b, with the
// caller building the options and without; beside each, the thread's processor time per span,
// which leaves out the time the thread waited for a core (two cores serve these threads, the
// reporters' threads, the sink and the wineserver).
void printTwoThreads(const char* what, Traced& a, Traced& b) {
  for (bool prebuilt : {false, true}) {
    double perThread[2] = {}, cpuPerThread[2] = {};
    auto measure = [&](int k, Traced& traced) {
      const double cpuBefore = threadCpuNs();
      perThread[k] = spansNs(*traced.tracer, *traced.parent, prebuilt ? &traced.childOf : nullptr);
      cpuPerThread[k] = (threadCpuNs() - cpuBefore) / kMedianCalls;
    };
    std::thread first([&] { measure(0, a); });
    std::thread second([&] { measure(1, b); });
    first.join();
    second.join();
    std::printf("span, 2 threads at once%s%s: %.0f and %.0f ns (processor %.0f and %.0f ns)\n", what,
                prebuilt ? ", options prebuilt" : "", perThread[0], perThread[1], cpuPerThread[0], cpuPerThread[1]);
  }
}

// The Wine floor of a span: what any tracer does for one, written plainly. Two clock reads, one
// allocation, three tag writes, a lock and a queue push.
double floorNs() {
  SRWLOCK lock = SRWLOCK_INIT;
  std::vector<char> queue;
  queue.reserve(1 << 20);
  return medianNs([&] {
    FILETIME start, end;
    GetSystemTimePreciseAsFileTime(&start);
    char* span = static_cast<char*>(std::malloc(160));
    size_t at = 0;
    for (const char* tag : {"Name", "Function", "Line"}) {
      const size_t size = std::strlen(tag);
      std::memcpy(span + at, tag, size);
      at += size;
      std::memcpy(span + at, "parseRecord", 11);
      at += 11;
    }
    GetSystemTimePreciseAsFileTime(&end);
    std::memcpy(span + at, &start, sizeof start);
    std::memcpy(span + at + sizeof start, &end, sizeof end);
    at += sizeof start + sizeof end;
    AcquireSRWLockExclusive(&lock);
    if (queue.size() + at > queue.capacity()) queue.clear();
    queue.insert(queue.end(), span, span + at);
    ReleaseSRWLockExclusive(&lock);
    std::free(span);
  });
}

// threads threads making spansEach driver spans each at once, as fast as they go, on one tracer
// with the provider's settings: ns per span over all of them, and the share delivered.
void printManyThreads(const Sink& sink, int threads, int spansEach) {
  auto tracer = makeTracer(sink.agent(), 100);
  const uint64_t datagramsBefore = sink.datagrams;
  auto parent = tracer->StartSpan("many parent");
  std::vector<std::thread> workers;
  auto start = Clock::now();
  for (int k = 0; k < threads; ++k) {
    workers.emplace_back([&] {
      for (int i = 0; i < spansEach; ++i) driverSpan(*tracer, nullptr, *parent);
    });
  }
  for (auto& worker : workers) worker.join();
  const double ns = std::chrono::duration<double, std::nano>(Clock::now() - start).count();
  tracer->Close();
  Sleep(200);  // the sink reads what is still in its socket
  const auto stats = tracer->statistics();
  const uint64_t total = uint64_t(threads) * spansEach;
  std::printf("%d threads x %d spans: %.0f ns per span over all threads, %.2f%% reported (%llu dropped), "
              "%llu of %llu datagrams at the sink\n",
              threads, spansEach, ns / total, 100.0 * stats.reported / total,
              static_cast<unsigned long long>(total - stats.reported),
              static_cast<unsigned long long>(sink.datagrams - datagramsBefore),
              static_cast<unsigned long long>(stats.datagrams));
}

}  // namespace

int main() {
  Sink sink;
  Traced first(sink);
  spansNs(*first.tracer, *first.parent);  // warm-up
  std::printf("Wine floor (2 clock reads, 1 allocation, 3 tag writes, a lock, a queue push): %.0f ns\n", floorNs());
  {
    const double cpuBefore = threadCpuNs();
    const double ns = spansNs(*first.tracer, *first.parent);
    std::printf("span (child start + 3 tags + finish), 1 thread: %.0f ns (processor %.0f ns)\n", ns,
                (threadCpuNs() - cpuBefore) / kMedianCalls);
  }
  std::printf("  of which the tracer's, without the caller building the options: %.0f ns\n",
              spansNs(*first.tracer, *first.parent, &first.childOf));
  printTwoThreads("", first, first);
  {
    // A tracer each, which share nothing of ours: what is left of the slowdown is the machine's,
    // two cores shared with the reporters' threads and the sink.
    Traced second(sink);
    printTwoThreads(", a tracer each", first, second);
  }
  Writer writer;
  std::printf("inject into a text map: %.0f ns\n", medianNs([&] { first.tracer->Inject(first.parent->context(), writer); }));

  first.tracer->Close();
  auto stats = first.tracer->statistics();
  std::printf("wire: %.1f bytes per span (%llu spans in %llu datagrams, %.0f bytes each)\n",
              stats.reported ? double(stats.bytesSent) / stats.reported : 0.0,
              static_cast<unsigned long long>(stats.reported), static_cast<unsigned long long>(stats.datagrams),
              stats.datagrams ? double(stats.bytesSent) / stats.datagrams : 0.0);

  // The provider's settings (queue 100, flush 1 s) against a burst as fast as one thread goes.
  {
    auto burst = makeTracer(sink.agent(), 100);
    auto burstParent = burst->StartSpan("burst parent");
    const int count = 10000;
    for (int i = 0; i < count; ++i) driverSpan(*burst, nullptr, *burstParent);
    auto start = Clock::now();
    burst->Close();
    std::printf("close right after a burst: %.1f ms\n", std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    printDelivery("burst of 10000 at queue 100 (its parent still open)", *burst, count);
  }

  // 50,000 spans a second for 5 s, in steps of 50 a millisecond.
  {
    auto paced = makeTracer(sink.agent(), 100);
    auto pacedParent = paced->StartSpan("paced parent");
    auto start = Clock::now();
    int made = 0;
    for (int ms = 1; ms <= 5000; ++ms) {
      for (int i = 0; i < 50; ++i, ++made) driverSpan(*paced, nullptr, *pacedParent);
      std::this_thread::sleep_until(start + std::chrono::milliseconds(ms));
    }
    pacedParent->Finish();
    paced->Close();
    printDelivery("paced 50000 spans/s for 5 s at queue 100", *paced, made + 1);
  }

  printManyThreads(sink, 2, 100000);
  printManyThreads(sink, 32, 10000);
  printManyThreads(sink, 64, 10000);

  // Sustained: 1M spans as fast as one thread goes, and the memory it leaves behind.
  auto steady = makeTracer(sink.agent(), 100);
  auto steadyParent = steady->StartSpan("steady parent");
  size_t before = workingSet();
  auto start = Clock::now();
  for (int i = 0; i < 1000000; ++i) driverSpan(*steady, nullptr, *steadyParent);
  double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  steady->Close();
  auto steadyStats = steady->statistics();
  std::printf("1M spans at queue 100: %.0f spans/s, dropped %llu (%.2f%%), working set +%.1f MB\n", 1000000 / seconds,
              static_cast<unsigned long long>(steadyStats.droppedQueueFull),
              100.0 * steadyStats.droppedQueueFull / 1000000, (double(workingSet()) - double(before)) / 1048576);
  std::printf("datagrams received by the sink: %llu\n", static_cast<unsigned long long>(sink.datagrams.load()));
  return 0;
}
