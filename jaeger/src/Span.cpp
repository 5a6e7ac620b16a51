#include "jaeger/src/Span.h"

#include "jaeger/src/Utf8Text.h"
#include "jaeger/src/WallClock.h"

namespace jaegertracing {

namespace {

template <typename Fields>
EncodedTags encodeFields(const Fields& fields) {
  EncodedTags encoded;
  for (const auto& field : fields) encoded.append(field.first, field.second);
  return encoded;
}

}  // namespace

Span::Span(std::shared_ptr<const Tracer> tracer, TracerCore& core, SpanContext&& context,
           SpanRecord&& record, std::chrono::steady_clock::time_point startSteady)
    : _tracer(std::move(tracer)),
      _core(core),
      _context(std::move(context)),
      _startSteady(startSteady),
      _record(std::move(record)) {}

// Not Finish(): the API's Finish reads the steady clock, three times the cost of the system
// clock that the span's own timing uses.
Span::~Span() { FinishWithOptions(opentracing::FinishSpanOptions()); }

void Span::FinishWithOptions(const opentracing::FinishSpanOptions& options) noexcept {
  {
    std::lock_guard<SlimLock> guard(_lock);
    if (_finished) return;
    _finished = true;
    if (!_context.isSampled()) return;
    auto finish = options.finish_steady_timestamp == opentracing::SteadyTime()
                      ? steadyTimeAt(systemNow())
                      : options.finish_steady_timestamp;
    _record.durationMicros =
        std::max<int64_t>(0, std::chrono::duration_cast<std::chrono::microseconds>(finish - _startSteady).count());
    try {
      for (const auto& log : options.log_records) _record.logs.append(log.timestamp, encodeFields(log.fields));
    } catch (...) {
      // The span is reported without the logs that did not fit into memory.
    }
  }
  // Once finished the record no longer changes, so it is read without the lock.
  _core.reporter->report(_record);
}

void Span::SetOperationName(opentracing::string_view name) noexcept {
  try {
    std::lock_guard<SlimLock> guard(_lock);
    if (_finished) return;
    const Utf8Text text(name);
    _record.operationName.assign(text.view().data(), text.size());
  } catch (...) {
  }
}

void Span::SetTag(opentracing::string_view key, const opentracing::Value& value) noexcept {
  try {
    std::lock_guard<SlimLock> guard(_lock);
    if (!_finished) _record.tags.set(key, value);
  } catch (...) {
  }
}

void Span::SetBaggageItem(opentracing::string_view key, opentracing::string_view value) noexcept {
  try {
    _context.setBaggageItem(std::string(key.data(), key.size()), std::string(value.data(), value.size()));
  } catch (...) {
  }
}

std::string Span::BaggageItem(opentracing::string_view key) const noexcept {
  try {
    return _context.baggageItem(std::string(key.data(), key.size()));
  } catch (...) {
    return std::string();
  }
}

template <typename Fields>
void Span::addLog(opentracing::SystemTime timestamp, const Fields& fields) noexcept {
  try {
    const EncodedTags encoded = encodeFields(fields);
    std::lock_guard<SlimLock> guard(_lock);
    if (!_finished) _record.logs.append(timestamp, encoded);
  } catch (...) {
  }
}

void Span::Log(std::initializer_list<std::pair<opentracing::string_view, opentracing::Value>> fields) noexcept {
  addLog(systemNow(), fields);
}

void Span::Log(opentracing::SystemTime timestamp,
               std::initializer_list<std::pair<opentracing::string_view, opentracing::Value>> fields) noexcept {
  addLog(timestamp, fields);
}

void Span::Log(opentracing::SystemTime timestamp,
               const std::vector<std::pair<opentracing::string_view, opentracing::Value>>& fields) noexcept {
  addLog(timestamp, fields);
}

const opentracing::SpanContext& Span::context() const noexcept { return _context; }

const opentracing::Tracer& Span::tracer() const noexcept { return *_tracer; }

}  // namespace jaegertracing
