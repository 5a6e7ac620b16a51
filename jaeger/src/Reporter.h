#pragma once
// Sends finished spans to the agent. A finishing span is encoded by its own thread straight into
// a bounded queue, so the caller never waits for the network and nothing is copied twice. A
// background thread packs the queue into datagrams and sends each one as it fills; a partly
// filled datagram goes out once no span has come for a moment, or at the flush interval.
//
// While the background thread is inside a send (tens of microseconds under load), a producer
// that finds the queue full packs the queue into datagrams itself. Spans are dropped, and
// counted, only when the packed datagrams waiting for the network reach their own bound.

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
  // Datagrams packed and waiting for the network, at most (about 2 MB with their span sizes):
  // room for a burst of 10,000 typical spans while the background thread gets no processor
  // time, as happens for milliseconds on a loaded machine.
  static constexpr size_t kMaxWaitingDatagrams = 24;

  struct Options {
    size_t queueSize = 100;
    std::chrono::steady_clock::duration flushInterval = std::chrono::seconds(1);
    bool logSpans = false;
  };

  Reporter(const Process& process, std::unique_ptr<UdpSender> sender, const Options& options);
  // Closes the reporter.
  ~Reporter();
  Reporter(const Reporter&) = delete;
  Reporter& operator=(const Reporter&) = delete;

  void report(const SpanRecord& span) noexcept;

  // Sends what is queued and stops. Waits a bounded time for the background thread; if it does
  // not answer (not started yet under the loader lock, or gone), the caller sends the rest.
  void close() noexcept;

  Tracer::Statistics statistics() const noexcept;

  // Called by exit() while every thread still runs: asks the background threads to send what
  // they hold now and waits, bounded, until they have, so that the process's end finds
  // nothing left to send.
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
