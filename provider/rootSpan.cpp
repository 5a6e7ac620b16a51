#include "provider/rootSpan.h"

#include <windows.h>

#include <opentracing/tracer.h>

#include "platform/ScopedLock.h"
#include "platform/VEnvironmentVariables.h"
#include "platform/stringConversion.h"
#include "provider/TextMapCarrier.h"
#include "provider/providerEntryPoints.h"
#include "provider/serviceName.h"
#include "provider/startSpan.h"

namespace {

// The span context the parent process left in the environment, or null. A value the tracer
// cannot read counts as none: the process then starts a trace of its own.
std::unique_ptr<opentracing::SpanContext> inheritedSpanContext() {
  VEnvironmentVariables environment;
  environment.load();
  const auto variable = environment.find(kSpanContextVariable);
  if (variable == environment.end()) return nullptr;
  TextMap map;
  parseTextMap(map, cstr(variable->second, CP_ACP), "/", ";");
  const TextMapCarrier carrier(map);
  auto context = opentracing::Tracer::Global()->Extract(static_cast<const opentracing::TextMapReader&>(carrier));
  if (!context) return nullptr;
  return std::move(*context);
}

}  // namespace

std::unique_ptr<opentracing::Span>& rootSpan(OpenTracingTracer& holder) {
  if (holder.rootSpanMade.load(std::memory_order_acquire)) return holder.rootSpan;
  const ScopedLock scope(&holder.rootSpanLock);
  if (holder.rootSpan) return holder.rootSpan;
  const std::string module = serviceName();
  if (const auto parent = inheritedSpanContext())
    holder.rootSpan = startSpan("Propagated Root Span for module: " + module, parent.get());
  else
    holder.rootSpan = startSpan("Root Span for module: " + module, nullptr);
  holder.rootSpanMade.store(true, std::memory_order_release);
  return holder.rootSpan;
}
