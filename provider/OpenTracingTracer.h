#pragma once
// The provider's tracer holder: building it installs a Jaeger tracer, named after the host
// executable, as the process's global tracer; it owns the module's root span.

#include <opentracing/span.h>
#include <opentracing/tracer.h>

#include <windows.h>

#include <atomic>
#include <memory>

#include "provider/providerEntryPoints.h"

class OpenTracingTracer : public OpenTracingDriver::ITracerProvider {
 public:
  // Replaces any global tracer installed before; a holder built earlier is not told.
  OpenTracingTracer();
  // Ends the root span, gives the reporter one flush interval to send it, and closes the tracer.
  // When spans were lost on the way (queue full, too large, out of memory, refused), logs one
  // Warning with the counts, which the day's log shows with Debug on. Never raises.
  ~OpenTracingTracer() override;

  OpenTracingTracer(const OpenTracingTracer&) = delete;
  OpenTracingTracer& operator=(const OpenTracingTracer&) = delete;

  // The holder behind a caller's owning pointer. An empty pointer or an object of another
  // provider raises ArgumentException.
  static OpenTracingTracer& of(OpenTracingDriver::TracerPtr& provider);

  // Null until the first span or injection needs it (see rootSpan()); set once, under
  // rootSpanLock, and then announced by rootSpanMade.
  std::unique_ptr<opentracing::Span> rootSpan;
  SRWLOCK rootSpanLock = SRWLOCK_INIT;
  std::atomic<bool> rootSpanMade{false};

 private:
  std::shared_ptr<opentracing::Tracer> tracer;  // the one installed as the global tracer
};
