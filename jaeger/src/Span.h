#pragma once
// A span of our tracer. It records tags and logs while open; finishing hands its record to the
// reporter when the trace is sampled. Destroying an unfinished span finishes it.

#include <chrono>
#include <memory>
#include <mutex>

#include "jaeger/src/SlimLock.h"

#include <opentracing/span.h>

#include "jaeger/src/BlockCache.h"
#include "jaeger/src/SpanContext.h"
#include "jaeger/src/SpanRecord.h"
#include "jaeger/src/TracerCore.h"
#include "jaegertracing/Tracer.h"

namespace jaegertracing {

class Span : public opentracing::Span {
 public:
  // The span keeps its tracer, and with it the tracer's core, alive.
  Span(std::shared_ptr<const Tracer> tracer, TracerCore& core, SpanContext&& context,
       SpanRecord&& record, std::chrono::steady_clock::time_point startSteady);
  ~Span() override;

  static void* operator new(size_t size) { return allocateBlock(size); }
  static void operator delete(void* block, size_t size) noexcept { freeBlock(block, size); }

  void FinishWithOptions(const opentracing::FinishSpanOptions& options) noexcept override;
  void SetOperationName(opentracing::string_view name) noexcept override;
  void SetTag(opentracing::string_view key, const opentracing::Value& value) noexcept override;
  void SetBaggageItem(opentracing::string_view key, opentracing::string_view value) noexcept override;
  std::string BaggageItem(opentracing::string_view key) const noexcept override;
  void Log(std::initializer_list<std::pair<opentracing::string_view, opentracing::Value>> fields) noexcept override;
  void Log(opentracing::SystemTime timestamp,
           std::initializer_list<std::pair<opentracing::string_view, opentracing::Value>> fields) noexcept override;
  void Log(opentracing::SystemTime timestamp,
           const std::vector<std::pair<opentracing::string_view, opentracing::Value>>& fields) noexcept override;
  const opentracing::SpanContext& context() const noexcept override;
  const opentracing::Tracer& tracer() const noexcept override;

 private:
  template <typename Fields>
  void addLog(opentracing::SystemTime timestamp, const Fields& fields) noexcept;

  const std::shared_ptr<const Tracer> _tracer;
  TracerCore& _core;
  SpanContext _context;
  const std::chrono::steady_clock::time_point _startSteady;
  mutable SlimLock _lock;  // guards _record and _finished
  SpanRecord _record;
  bool _finished = false;
};

}  // namespace jaegertracing
