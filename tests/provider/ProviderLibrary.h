#pragma once
// The provider as the driver loads it, for the tests that call its exports themselves.

#include <windows.h>

#include <memory>
#include <string>

#include "driver/LibraryPtr.h"
#include "driver/VModule.h"
#include "provider/providerEntryPoints.h"
#include "tests/support/runProcess.h"

// opentracingprovider.dll from the test's own folder with its three exports resolved.
// Raises as RunTime::LibraryPtr and VModule::getProcAddress do.
class ProviderLibrary {
 public:
  // A span context of the provider, owned as the driver owns it.
  std::unique_ptr<OpenTracingDriver::ISpanContextProvider> open(OpenTracingDriver::TracerPtr& tracer,
                                                                const std::string& function, int32_t line,
                                                                const std::string& name = "") const {
    return std::unique_ptr<OpenTracingDriver::ISpanContextProvider>(getSpanContext(tracer, function, line, name));
  }

 private:
  template <class Fn>
  Fn resolve(const char* name) const {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(VModule::getProcAddress(library_.get(), name)));
  }

  // First: the entry points below are resolved from it.
  const RunTime::LibraryPtr library_{executableFolder() + L"\\opentracingprovider.dll"};

 public:
  const OpenTracingDriver::GetTracerFn getTracer =
      resolve<OpenTracingDriver::GetTracerFn>(OpenTracingDriver::kGetTracerExport);
  const OpenTracingDriver::GetSpanContextFn getSpanContext =
      resolve<OpenTracingDriver::GetSpanContextFn>(OpenTracingDriver::kGetSpanContextExport);
  const OpenTracingDriver::InjectCurrentSpanFn injectCurrentSpan =
      resolve<OpenTracingDriver::InjectCurrentSpanFn>(OpenTracingDriver::kInjectCurrentSpanExport);
};
