#pragma once
// The Jaeger tracer: starts spans, samples traces, propagates span contexts and reports finished
// spans to the Jaeger agent over UDP from a background thread. Create it with Tracer::make.

#include <cstdint>
#include <memory>
#include <string>

#include <opentracing/tracer.h>

#include "jaegertracing/Config.h"
#include "jaegertracing/jaegerApi.h"

namespace jaegertracing {

class TracerCore;

class JAEGERTRACING_API Tracer : public opentracing::Tracer, public std::enable_shared_from_this<Tracer> {
 public:
  // What the reporter has done so far. Every sampled span that finished ends up in exactly one
  // of the counts below from reported to lostAtExit, or is still on its way.
  struct Statistics {
    uint64_t reported = 0;            // spans in datagrams that left and were not refused
    uint64_t droppedQueueFull = 0;    // the waiting datagrams stayed at their bound, no sender made room
    uint64_t droppedTooLarge = 0;     // spans that did not fit into one datagram on their own
    uint64_t droppedOutOfMemory = 0;  // spans that found no memory to be queued in
    uint64_t droppedSendFailed = 0;   // spans in datagrams the socket or the agent's port refused
    uint64_t droppedClosed = 0;       // spans finished after the tracer closed
    // Spans unsent when the process ended: what could not go without blocking, and what a thread
    // killed by the exit was sending (which may have arrived, and is not sent again).
    uint64_t lostAtExit = 0;
    uint64_t sendFailures = 0;  // datagrams refused (no agent: ICMP port unreachable, ...)
    uint64_t datagrams = 0;     // datagrams sent
    uint64_t bytesSent = 0;     // bytes inside the sent datagrams
  };

  // Throws std::invalid_argument for an empty service name, an unknown sampler type or an agent
  // address that does not resolve. A disabled configuration gives a tracer that records nothing.
  static std::shared_ptr<opentracing::Tracer> make(const std::string& serviceName, const Config& config);

  Tracer(const Tracer&) = delete;
  Tracer& operator=(const Tracer&) = delete;
  // Closes the tracer: every queued span is sent first.
  ~Tracer() override;

  std::unique_ptr<opentracing::Span> StartSpanWithOptions(opentracing::string_view operationName,
                                                          const opentracing::StartSpanOptions& options) const
      noexcept override;

  opentracing::expected<void> Inject(const opentracing::SpanContext& sc, std::ostream& writer) const override;
  opentracing::expected<void> Inject(const opentracing::SpanContext& sc,
                                     const opentracing::TextMapWriter& writer) const override;
  opentracing::expected<void> Inject(const opentracing::SpanContext& sc,
                                     const opentracing::HTTPHeadersWriter& writer) const override;

  opentracing::expected<std::unique_ptr<opentracing::SpanContext>> Extract(std::istream& reader) const override;
  opentracing::expected<std::unique_ptr<opentracing::SpanContext>> Extract(
      const opentracing::TextMapReader& reader) const override;
  opentracing::expected<std::unique_ptr<opentracing::SpanContext>> Extract(
      const opentracing::HTTPHeadersReader& reader) const override;

  // Sends every queued span, within a bounded time, and stops reporting. Later spans are dropped
  // and counted. Safe to call more than once and under the Windows loader lock.
  void Close() noexcept override;

  const std::string& serviceName() const noexcept;
  Statistics statistics() const noexcept;

 private:
  explicit Tracer(std::shared_ptr<TracerCore> core);

  std::shared_ptr<TracerCore> _core;
};

}  // namespace jaegertracing
