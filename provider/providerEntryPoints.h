#pragma once
// The three undecorated exports of opentracingprovider.dll and their types, as the driver resolves
// them by name. The tracer argument is the caller's owning pointer to the holder returned by
// OpenTracingProviderGetTracer; the caller owns every object returned.

#include <cstdint>
#include <memory>
#include <string>

#include "provider/ISpanContextProvider.h"
#include "provider/ITracerProvider.h"

namespace OpenTracingDriver {

using TracerPtr = std::unique_ptr<ITracerProvider>;

using GetTracerFn = ITracerProvider* (*)();
using GetSpanContextFn = ISpanContextProvider* (*)(TracerPtr& tracer, const std::string& function, int32_t line,
                                                    const std::string& name);
using InjectCurrentSpanFn = void (*)(TracerPtr& tracer);

constexpr const char* kGetTracerExport = "OpenTracingProviderGetTracer";
constexpr const char* kGetSpanContextExport = "OpenTracingProviderGetSpanContext";
constexpr const char* kInjectCurrentSpanExport = "OpenTracingProviderInjectCurrentSpan";

}  // namespace OpenTracingDriver

// The environment variable through which a traced process hands its trace to its children.
constexpr const wchar_t* kSpanContextVariable = L"KESTRIN_OPENTRACING_SPAN_CONTEXT_DATA";
