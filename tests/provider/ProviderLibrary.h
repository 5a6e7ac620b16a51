#pragma once
// The provider as the driver loads it, for the tests and their host processes.

#include <windows.h>

#include <memory>
#include <string>

#include "driver/LibraryPtr.h"
#include "provider/providerEntryPoints.h"

// opentracingprovider.dll from the test's own folder with its three exports resolved.
// Raises as RunTime::LibraryPtr and VModule::getProcAddress do.
class ProviderLibrary {
 public:
  ProviderLibrary();

  // A span context of the provider, owned as the driver owns it.
  std::unique_ptr<OpenTracingDriver::ISpanContextProvider> open(OpenTracingDriver::TracerPtr& tracer,
                                                                const std::string& function, int32_t line,
                                                                const std::string& name = "") const {
    return std::unique_ptr<OpenTracingDriver::ISpanContextProvider>(getSpanContext(tracer, function, line, name));
  }

 private:
  RunTime::LibraryPtr library_;  // first: the entry points below are resolved from it

 public:
  const OpenTracingDriver::GetTracerFn getTracer;
  const OpenTracingDriver::GetSpanContextFn getSpanContext;
  const OpenTracingDriver::InjectCurrentSpanFn injectCurrentSpan;
};
