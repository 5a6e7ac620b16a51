#include "jaegertracing/Tracer.h"

#include <stdexcept>
#include <typeinfo>

#include <stdlib.h>

#include <opentracing/noop.h>
#include <opentracing/util.h>
#include <windows.h>

#include "jaeger/src/ExitFlush.h"
#include "jaeger/src/IdGenerator.h"
#include "jaeger/src/Propagation.h"
#include "jaeger/src/ReporterLifecycle.h"
#include "jaeger/src/Span.h"
#include "jaeger/src/TracerCore.h"
#include "jaeger/src/Utf8Text.h"
#include "jaeger/src/WallClock.h"

namespace jaegertracing {

namespace {

constexpr const char* kVersion = "C++-0.5.0";

// Spans and tracers hand out code of this library to the OpenTracing library and to the host,
// which may drop them after the host has freed the modules that loaded us, and the threads'
// block caches are released by code of ours at each thread's end. Pinning keeps the code
// mapped until the process ends, where the reporters are flushed at exit.
void pinThisLibrary() {
  HMODULE self = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                     reinterpret_cast<LPCWSTR>(&pinThisLibrary), &self);
}

const SpanContext* ownContext(const opentracing::SpanContext* context) {
  // Ours is the only class of that type, so its type is compared rather than cast to, which
  // costs more.
  return context != nullptr && typeid(*context) == typeid(SpanContext) ? static_cast<const SpanContext*>(context)
                                                                        : nullptr;
}

// At the end of the process the last reference to a tracer may go from another library's static
// (the OpenTracing library's global tracer), after ExitProcess stopped the other threads, any of
// which may hold the heap's lock: the tracer is then closed, and neither it nor its count of
// references is freed.
void deleteTracer(Tracer* tracer) noexcept {
  if (processEnding()) {
    tracer->Close();
    return;
  }
  delete tracer;
}

template <typename T>
struct KeptAtProcessEnd {
  using value_type = T;
  KeptAtProcessEnd() = default;
  template <typename U>
  KeptAtProcessEnd(const KeptAtProcessEnd<U>&) noexcept {}
  T* allocate(size_t count) { return std::allocator<T>().allocate(count); }
  void deallocate(T* block, size_t count) noexcept {
    if (!processEnding()) std::allocator<T>().deallocate(block, count);
  }
  template <typename U>
  bool operator==(const KeptAtProcessEnd<U>&) const noexcept {
    return true;
  }
  template <typename U>
  bool operator!=(const KeptAtProcessEnd<U>&) const noexcept {
    return false;
  }
};

int64_t microsSinceEpoch(std::chrono::system_clock::time_point time) {
  return std::chrono::duration_cast<std::chrono::microseconds>(time.time_since_epoch()).count();
}

}  // namespace

std::shared_ptr<opentracing::Tracer> Tracer::make(const std::string& serviceName, const Config& config) {
  if (serviceName.empty()) throw std::invalid_argument("a tracer needs a service name");
  if (config.disabled()) return opentracing::MakeNoopTracer();
  auto sampler = Sampler::make(config.sampler());

  // Before the first block is taken from a thread's cache, even if making the tracer fails.
  pinThisLibrary();
  Process process;
  const Utf8Text service(serviceName);
  process.serviceName.assign(service.view().data(), service.size());
  process.tags.appendText("jaeger.version", kVersion);
  process.tags.appendText("hostname", localHostName());
  process.tags.appendText("ip", localIPv4Address());

  // The configured queue size bounds nothing here: finished spans go straight into datagrams,
  // and the datagrams waiting for the network have their own bound (Datagrams).
  Reporter::Options options;
  options.flushInterval = config.reporter().bufferFlushInterval();
  options.logSpans = config.reporter().logSpans();
  std::unique_ptr<Reporter> reporter(new Reporter(process, config.reporter().localAgentHostPort(), options));

  sendAllBeforeExitOnExit();
  auto core = std::make_shared<TracerCore>(serviceName, std::move(sampler), config.headers(), std::move(reporter));
  return std::shared_ptr<Tracer>(new Tracer(std::move(core)), deleteTracer, KeptAtProcessEnd<Tracer>());
}

Tracer::Tracer(std::shared_ptr<TracerCore> core) : _core(std::move(core)) {}

Tracer::~Tracer() { Close(); }

void Tracer::Close() noexcept { _core->reporter->close(); }

const std::string& Tracer::serviceName() const noexcept { return _core->serviceName; }

Tracer::Statistics Tracer::statistics() const noexcept { return _core->reporter->statistics(); }

std::unique_ptr<opentracing::Span> Tracer::StartSpanWithOptions(opentracing::string_view operationName,
                                                                const opentracing::StartSpanOptions& options) const
    noexcept {
  try {
    // The parent is the first child-of reference of ours, else the first follows-from one. A
    // context from a carrier that holds only a debug id or baggage starts a new trace.
    const SpanContext* parent = nullptr;
    const SpanContext* carrierOnly = nullptr;
    bool parentIsChildOf = false;
    size_t validReferences = 0;
    SpanRecord record;
    SpanContext::Baggage baggage;
    for (const auto& reference : options.references) {
      const SpanContext* context = ownContext(reference.second);
      if (!context) continue;
      context->mergeBaggageInto(baggage);
      if (!context->isValid()) {
        if (!carrierOnly) carrierOnly = context;
        continue;
      }
      ++validReferences;
      bool childOf = reference.first == opentracing::SpanReferenceType::ChildOfRef;
      if (!parent || (childOf && !parentIsChildOf)) {
        parent = context;
        parentIsChildOf = childOf;
      }
    }
    // A lone child-of reference says nothing the parent id does not, and the agent reads it
    // from there; leaving it out spares an allocation and a quarter of a typical span's bytes.
    if (validReferences > 1 || (parent && !parentIsChildOf)) {
      record.references.reserve(validReferences);
      for (const auto& reference : options.references) {
        const SpanContext* context = ownContext(reference.second);
        if (!context || !context->isValid()) continue;
        bool childOf = reference.first == opentracing::SpanReferenceType::ChildOfRef;
        record.references.push_back({childOf ? SpanReference::Type::ChildOf : SpanReference::Type::FollowsFrom,
                                     context->traceId(), context->spanId()});
      }
    }

    const Utf8Text name(operationName);
    record.operationName.assign(name.view().data(), name.size());
    record.spanId = randomId();
    uint8_t flags = 0;
    std::string debugId;
    if (parent) {
      record.traceId = parent->traceId();
      record.parentId = parent->spanId();
      flags = parent->flags();
    } else {
      record.traceId.low = randomId();
      if (carrierOnly && !carrierOnly->debugId().empty()) {
        flags = SpanContext::kSampled | SpanContext::kDebug;
        debugId = carrierOnly->debugId();
        record.tags.appendText(_core->headers.jaegerDebugHeader(), debugId);
      } else {
        SamplingDecision decision = _core->sampler->decide(record.traceId);
        if (decision.sampled) flags = SpanContext::kSampled;
        record.tags.appendAll(decision.tags);
      }
    }
    record.flags = flags;
    for (const auto& tag : options.tags) record.tags.set(tag.first, tag.second);

    auto startSystem = options.start_system_timestamp;
    auto startSteady = options.start_steady_timestamp;
    if (startSystem == opentracing::SystemTime() && startSteady == opentracing::SteadyTime()) {
      startSystem = systemNow();
      startSteady = steadyTimeAt(startSystem);
    } else if (startSteady == opentracing::SteadyTime()) {
      startSteady = steadyTimeAt(startSystem);
    } else if (startSystem == opentracing::SystemTime()) {
      startSystem = systemTimeAt(startSteady);
    }
    record.startMicros = microsSinceEpoch(startSystem);

    SpanContext context(record.traceId, record.spanId, record.parentId, flags, std::move(baggage), debugId);
    return std::unique_ptr<opentracing::Span>(
        new Span(shared_from_this(), *_core, std::move(context), std::move(record), startSteady));
  } catch (...) {
    return nullptr;
  }
}

opentracing::expected<void> Tracer::Inject(const opentracing::SpanContext& sc, std::ostream& writer) const {
  const SpanContext* context = ownContext(&sc);
  if (!context) return opentracing::make_unexpected(opentracing::invalid_span_context_error);
  return injectBinary(*context, writer);
}

opentracing::expected<void> Tracer::Inject(const opentracing::SpanContext& sc,
                                           const opentracing::TextMapWriter& writer) const {
  const SpanContext* context = ownContext(&sc);
  if (!context) return opentracing::make_unexpected(opentracing::invalid_span_context_error);
  return injectText(*context, writer, _core->headers, TextFormat::TextMap);
}

opentracing::expected<void> Tracer::Inject(const opentracing::SpanContext& sc,
                                           const opentracing::HTTPHeadersWriter& writer) const {
  const SpanContext* context = ownContext(&sc);
  if (!context) return opentracing::make_unexpected(opentracing::invalid_span_context_error);
  return injectText(*context, writer, _core->headers, TextFormat::HttpHeaders);
}

opentracing::expected<std::unique_ptr<opentracing::SpanContext>> Tracer::Extract(std::istream& reader) const {
  return extractBinary(reader);
}

opentracing::expected<std::unique_ptr<opentracing::SpanContext>> Tracer::Extract(
    const opentracing::TextMapReader& reader) const {
  return extractText(reader, _core->headers, TextFormat::TextMap);
}

opentracing::expected<std::unique_ptr<opentracing::SpanContext>> Tracer::Extract(
    const opentracing::HTTPHeadersReader& reader) const {
  return extractText(reader, _core->headers, TextFormat::HttpHeaders);
}

}  // namespace jaegertracing
