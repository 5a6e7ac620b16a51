#include "jaeger/src/Reporter.h"

#include <thread>

#include "jaeger/src/ExitFlush.h"
#include "jaeger/src/ReporterLane.h"

namespace jaegertracing {

namespace {

// A lane for each processor, up to four: more lanes than cores only add background threads.
size_t laneCount() noexcept {
  SYSTEM_INFO system;
  GetSystemInfo(&system);
  const size_t processors = system.dwNumberOfProcessors;
  return processors < 1 ? 1 : processors > 4 ? 4 : processors;
}

}  // namespace

Reporter::Reporter(const Process& process, const std::string& agentHostPort, const Options& options) {
  const size_t lanes = laneCount();
  _lanes.reserve(lanes);
  try {
    for (size_t k = 0; k < lanes; ++k) {
      auto lane = std::make_shared<ReporterLane>(process, std::unique_ptr<UdpSender>(new UdpSender(agentHostPort)), options);
      flushedAtExit(lane);
      _lanes.push_back(lane);
      std::thread(&ReporterLane::run, lane).detach();
    }
  } catch (...) {
    for (const auto& lane : _lanes) {
      lane->close();
      notFlushedAtExit(lane);
    }
    throw;
  }
}

Reporter::~Reporter() {
  close();
  for (const auto& lane : _lanes) notFlushedAtExit(lane);
}

// Windows gives thread ids out of one table in steps of four, so their two low bits say nothing:
// threads started one after another, as a host starts its workers, get lanes one after another,
// with no lookup in a thread's own storage. Ids given out otherwise would still spread the threads
// over every lane, only less evenly.
ReporterLane& Reporter::laneOfThisThread() const noexcept {
  return *_lanes[(GetCurrentThreadId() >> 2) % _lanes.size()];
}

void Reporter::report(const SpanRecord& span) noexcept { laneOfThisThread().report(span); }

void Reporter::close() noexcept {
  for (const auto& lane : _lanes) lane->close();
}

Tracer::Statistics Reporter::statistics() const noexcept {
  Tracer::Statistics sum;
  for (const auto& lane : _lanes) lane->addStatistics(sum);
  return sum;
}

}  // namespace jaegertracing
