#pragma once
// The provider as the driver loads it, for the tests and their host processes.

#include <windows.h>

#include "provider/providerEntryPoints.h"

// opentracingprovider.dll from the test's own folder with its three exports resolved.
class ProviderLibrary {
 public:
  ProviderLibrary();
  ~ProviderLibrary();
  ProviderLibrary(const ProviderLibrary&) = delete;
  ProviderLibrary& operator=(const ProviderLibrary&) = delete;

  OpenTracingDriver::GetTracerFn getTracer;
  OpenTracingDriver::GetSpanContextFn getSpanContext;
  OpenTracingDriver::InjectCurrentSpanFn injectCurrentSpan;

 private:
  HMODULE module_;
};
