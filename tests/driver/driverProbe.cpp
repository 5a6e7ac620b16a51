// driver_probe: a host for the tests that must run as a process of their own, under a name or in a
// folder of their choosing. Prints one line of key=value pairs, but for trace.
//   enabled             whether the process traces
//   trace [oversized]   one span "host (hostMain 1)", exit code 2 if untraced; a tag no datagram holds
//   span [PROVIDER_DIR] a span and the state it left; one more after copying PROVIDER_DIR's provider
//   inject              an injection and what it left: tracing, the variable set, the provider loaded
#include <windows.h>

#include <cstdio>
#include <string>

#include "diagnostics/ExecuteContext.h"
#include "driver/OpenTracingDriverState.h"
#include "driver/OpenTracingDriver.h"
#include "platform/VFileName.h"
#include "platform/moduleName.h"

namespace {

int spanOf() { return OpenTracingDriver::StartSpan("driverProbe", __LINE__, "")->IsEnabled() ? 1 : 0; }

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring command = argc > 1 ? argv[1] : L"";
  if (command == L"enabled") {
    std::printf("enabled=%d\n", OpenTracingDriver::IsEnabled() ? 1 : 0);
    return 0;
  }
  if (command == L"trace") {
    const auto span = OpenTracingDriver::StartSpan("hostMain", 1, "host");
    if (argc > 2) span->SetTag("payload", std::string(70000, 'x'));
    return span->IsEnabled() ? 0 : 2;
  }
  if (command == L"span") {
    const std::wstring provider = L"opentracingprovider.dll";
    const int first = spanOf();
    const OpenTracingDriverState& state = *getExecuteContext()->driverState;
    std::printf("first=%d tracing=%d library=%d entries=%d loaded=%d", first, OpenTracingDriver::IsEnabled() ? 1 : 0,
                state.library ? 1 : 0, state.getTracer || state.getSpanContext || state.injectCurrentSpan ? 1 : 0,
                GetModuleHandleW(provider.c_str()) != nullptr ? 1 : 0);
    if (argc > 2) {
      const BOOL copied =
          CopyFileW(VFileName::combine(argv[2], provider).c_str(),
                    VFileName::combine(VFileName::directory(moduleName(nullptr)), provider).c_str(), FALSE);
      const int second = spanOf();
      std::printf(" copied=%d second=%d loaded=%d", copied ? 1 : 0, second,
                  GetModuleHandleW(provider.c_str()) != nullptr ? 1 : 0);
    }
    std::printf("\n");
    return 0;
  }
  if (command == L"inject") {
    OpenTracingDriver::InjectCurrentSpan();
    std::printf("tracing=%d variable=%d loaded=%d\n", OpenTracingDriver::IsEnabled() ? 1 : 0,
                GetEnvironmentVariableW(L"KESTRIN_OPENTRACING_SPAN_CONTEXT_DATA", nullptr, 0) != 0 ? 1 : 0,
                GetModuleHandleW(L"opentracingprovider.dll") != nullptr ? 1 : 0);
    return 0;
  }
  return 2;
}
