#include "provider/OpenTracingTracer.h"

#include <windows.h>

#include <chrono>

#include <jaegertracing/Config.h>
#include <jaegertracing/Tracer.h>

#include "diagnostics/log/LogManager.h"
#include "diagnostics/vexception.h"
#include "platform/formatString.h"
#include "platform/stringConversion.h"
#include "provider/serviceName.h"

namespace {

// Every value is given, so none of the client's defaults applies: every trace is sampled and
// spans go to the agent on this machine.
jaegertracing::Config tracerConfig() {
  return jaegertracing::Config(
      false,
      jaegertracing::samplers::Config("const", 1.0, "http://127.0.0.1:5778", 2000, std::chrono::seconds(60)),
      jaegertracing::reporters::Config(100, std::chrono::seconds(1), false, "127.0.0.1:6831"),
      jaegertracing::propagation::HeadersConfig("", "", "", ""),
      jaegertracing::baggage::RestrictionsConfig(false, "", std::chrono::steady_clock::duration::zero()));
}

// One Warning for an operator when the tracer lost spans on their way to the agent, raised at
// site; nothing when every span left.
void logLostSpans(const jaegertracing::Tracer& tracer, SiteName site) {
  const jaegertracing::Tracer::Statistics counts = tracer.statistics();
  const uint64_t lost = counts.droppedQueueFull + counts.droppedTooLarge + counts.droppedOutOfMemory +
                        counts.droppedSendFailed;
  if (lost == 0) return;
  const auto number = [](uint64_t value) { return static_cast<unsigned long long>(value); };
  const vexception warning(
      formatString(L"Tracing of %s lost %I64u spans: %I64u on a full queue, %I64u too large for a datagram, "
                   L"%I64u without memory, %I64u in datagrams the agent's port refused (%I64u datagrams refused)",
                   wstr(tracer.serviceName(), CP_UTF8), number(lost), number(counts.droppedQueueFull),
                   number(counts.droppedTooLarge), number(counts.droppedOutOfMemory),
                   number(counts.droppedSendFailed), number(counts.sendFailures)),
      site);
  LogManager::instance().log(LogLevel::Warning, warning);
}

}  // namespace

OpenTracingTracer::OpenTracingTracer() : tracer(jaegertracing::Tracer::make(serviceName(), tracerConfig())) {
  opentracing::Tracer::InitGlobal(tracer);
}

OpenTracingTracer::~OpenTracingTracer() {
  try {
    rootSpan.reset();
  } catch (...) {
  }
  // The reporter flushes once a second; the process may end right after this.
  Sleep(1000);
  try {
    tracer->Close();
    if (const auto* jaeger = dynamic_cast<const jaegertracing::Tracer*>(tracer.get())) logLostSpans(*jaeger, KESTRIN_SITE);
  } catch (...) {
  }
}

OpenTracingTracer& OpenTracingTracer::of(OpenTracingDriver::TracerPtr& provider) {
  auto* holder = dynamic_cast<OpenTracingTracer*>(provider.get());
  if (!holder)
    throw ArgumentException(L"The tracer provider is not this provider's tracer holder",
                            KESTRIN_SITE);
  return *holder;
}
