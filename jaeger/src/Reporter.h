#pragma once
// Sends finished spans to the agent. Callers only queue a span (a bounded queue; a full queue
// drops and counts it). A background thread drains the queue as soon as it holds a span, so
// every span is sent well within the configured flush interval, and packs what accumulated
// while it was sending into as few datagrams as fit.

#include <chrono>
#include <cstddef>
#include <memory>

#include "jaeger/src/AgentEncoding.h"
#include "jaeger/src/SpanRecord.h"
#include "jaeger/src/UdpSender.h"
#include "jaegertracing/Tracer.h"

namespace jaegertracing {

class Reporter {
 public:
  static constexpr size_t kMaxDatagram = 65000;

  struct Options {
    size_t queueSize = 100;
    bool logSpans = false;
  };

  Reporter(const Process& process, std::unique_ptr<UdpSender> sender, const Options& options);
  // Closes the reporter.
  ~Reporter();
  Reporter(const Reporter&) = delete;
  Reporter& operator=(const Reporter&) = delete;

  void report(SpanRecord&& span) noexcept;

  // Sends what is queued and stops. Waits a bounded time for the background thread; if it does
  // not answer (not started yet under the loader lock, or gone), the caller sends the rest.
  void close() noexcept;

  Tracer::Statistics statistics() const noexcept;

  // Called by exit() while every thread still runs: waits, bounded, until the background
  // threads have sent what is queued, so that the process's end finds nothing left to send.
  static void waitAllBeforeExit() noexcept;
  // At process exit the background threads are gone: each live reporter sends what it still
  // holds from the exiting thread. A last resort for processes that end without exit().
  static void flushAllAtExit() noexcept;

  // Shared with the background thread, which may outlive the reporter by a little.
  struct State;

 private:
  std::shared_ptr<State> _state;
};

}  // namespace jaegertracing
