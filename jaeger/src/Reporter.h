#pragma once
// Sends finished spans to the agent. A finishing span is encoded by its own thread and appended
// to the open datagram, so the caller never waits for the network and nothing is copied twice. A
// background thread sends each datagram once it is full, once no span has come for a moment, or
// at the flush interval. When the full datagrams waiting reach their bound (the background
// thread gets no processor among many finishing threads), a finishing thread sends the oldest
// itself rather than drop its span. The lifecycle and its rules: ReporterLifecycle.h.
//
// A reporter is a few lanes, each with its own datagrams, lock, socket and background thread,
// and a thread always finishes its spans into the same lane: threads finishing spans at once on
// a machine's cores then mostly write lines of memory that no other core holds, rather than take
// one shared lock and datagram from each other for every span.

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "jaeger/src/AgentEncoding.h"
#include "jaeger/src/SpanRecord.h"
#include "jaeger/src/UdpSender.h"
#include "jaegertracing/Tracer.h"

namespace jaegertracing {

class ReporterLane;

class Reporter {
 public:
  struct Options {
    std::chrono::steady_clock::duration flushInterval = std::chrono::seconds(1);
    bool logSpans = false;
  };

  // Makes the lanes' sockets to the agent at agentHostPort ("host:port") and starts their
  // background threads. Throws what UdpSender throws, std::bad_alloc and std::system_error.
  Reporter(const Process& process, const std::string& agentHostPort, const Options& options);
  // Closes the reporter.
  ~Reporter();
  Reporter(const Reporter&) = delete;
  Reporter& operator=(const Reporter&) = delete;

  // Any thread. Never throws; a span that cannot be sent is counted by its reason.
  void report(const SpanRecord& span) noexcept;

  // Sends what waits and stops; later spans are counted as dropped after close. Waits a bounded
  // time for the background thread; if it does not answer (not started yet under the loader
  // lock, or gone), the caller sends the rest. Any thread, more than once.
  void close() noexcept;

  Tracer::Statistics statistics() const noexcept;

 private:
  ReporterLane& laneOfThisThread() const noexcept;

  // Shared with their background threads and the flush at exit, which may outlive the reporter.
  std::vector<std::shared_ptr<ReporterLane>> _lanes;
};

}  // namespace jaegertracing
