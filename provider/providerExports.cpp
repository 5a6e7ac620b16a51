// The provider's three exports, resolved by name by the tracing driver. They catch nothing: the
// driver turns any failure into tracing switched off.
#include <type_traits>

#include "provider/OpenTracingSpanContext.h"
#include "provider/OpenTracingTracer.h"
#include "provider/injectCurrentSpan.h"
#include "provider/providerEntryPoints.h"

#define PROVIDER_EXPORT extern "C" __declspec(dllexport)

PROVIDER_EXPORT OpenTracingDriver::ITracerProvider* OpenTracingProviderGetTracer() { return new OpenTracingTracer(); }

PROVIDER_EXPORT OpenTracingDriver::ISpanContextProvider* OpenTracingProviderGetSpanContext(
    OpenTracingDriver::TracerPtr& tracer, const std::string& function, int32_t line, const std::string& name) {
  return new OpenTracingSpanContext(tracer, function, line, name);
}

PROVIDER_EXPORT void OpenTracingProviderInjectCurrentSpan(OpenTracingDriver::TracerPtr& tracer) {
  injectCurrentSpan(tracer);
}

static_assert(std::is_same_v<decltype(&OpenTracingProviderGetTracer), OpenTracingDriver::GetTracerFn> &&
                  std::is_same_v<decltype(&OpenTracingProviderGetSpanContext), OpenTracingDriver::GetSpanContextFn> &&
                  std::is_same_v<decltype(&OpenTracingProviderInjectCurrentSpan),
                                 OpenTracingDriver::InjectCurrentSpanFn>,
              "the exports have the types the driver resolves them as");
