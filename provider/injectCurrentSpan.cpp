#include "provider/injectCurrentSpan.h"

#include <windows.h>

#include <opentracing/tracer.h>

#include "platform/stringConversion.h"
#include "provider/OpenTracingTracer.h"
#include "provider/TextMapCarrier.h"
#include "provider/currentSpan.h"
#include "provider/rootSpan.h"

void injectCurrentSpan(OpenTracingDriver::TracerPtr& tracerProvider) {
  TextMap map;
  const TextMapCarrier carrier(map);
  const opentracing::Span& span = currentSpan() ? *currentSpan() : *rootSpan(OpenTracingTracer::of(tracerProvider));
  if (!opentracing::Tracer::Global()->Inject(span.context(), static_cast<const opentracing::TextMapWriter&>(carrier)))
    return;
  // Best effort, as tracing is: a child that finds no variable starts a trace of its own.
  SetEnvironmentVariableW(kSpanContextVariable, wstr(joinTextMap(map, "/", ";"), CP_ACP).c_str());
}
