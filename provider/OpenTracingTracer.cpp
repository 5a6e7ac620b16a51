#include "provider/OpenTracingTracer.h"

#include <windows.h>

#include <chrono>

#include <jaegertracing/Config.h>
#include <jaegertracing/Tracer.h>

#include "diagnostics/vexception.h"
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

}  // namespace

OpenTracingTracer::OpenTracingTracer() {
  opentracing::Tracer::InitGlobal(jaegertracing::Tracer::make(serviceName(), tracerConfig()));
}

OpenTracingTracer::~OpenTracingTracer() {
  try {
    rootSpan.reset();
  } catch (...) {
  }
  // The reporter flushes once a second; the process may end right after this.
  Sleep(1000);
}

OpenTracingTracer& OpenTracingTracer::of(OpenTracingDriver::TracerPtr& provider) {
  auto* holder = dynamic_cast<OpenTracingTracer*>(provider.get());
  if (!holder)
    throw ArgumentException(L"The tracer provider is not this provider's tracer holder",
                            ExceptionSite("OpenTracingTracer::of", __LINE__));
  return *holder;
}
