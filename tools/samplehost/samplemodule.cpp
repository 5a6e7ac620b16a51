// samplemodule.dll: a second module of the product with its own copy of the platform layer, for
// hosts that show (and tests that check) how two modules of one process share the execute
// context, the driver state and so one tracer.
#include <windows.h>

#include <memory>
#include <string>

#include "diagnostics/ExecuteContext.h"
#include "driver/OpenTracingDriver.h"

// The process's execute context as this module finds it.
extern "C" __declspec(dllexport) ExecuteContext* SampleModuleExecuteContext() { return getExecuteContext(); }

// Opens a span in this module for function, tags it and ends it; returns whether it traced.
extern "C" __declspec(dllexport) int SampleModuleTrace(const char* function) {
  const auto span = OpenTracingDriver::StartSpan(function, __LINE__, "");
  span->SetTag("module", "samplemodule");
  return span->IsEnabled() ? 1 : 0;
}
