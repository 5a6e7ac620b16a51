// driver_probe, a host under a name and in a folder of the test's choosing; prints key=value pairs.
//   trace [oversized] (one span, exit code 2 if untraced) | inject
//   span [PROVIDER_DIR]: a span and what it left; one more after copying PROVIDER_DIR's provider
#include <cstdio>

#include "driver/OpenTracingDriver.h"
#include "platform/VFileName.h"
#include "platform/moduleName.h"
#include "provider/providerEntryPoints.h"

static int spanOf() { return OpenTracingDriver::StartSpan("driverProbe", __LINE__, "")->IsEnabled() ? 1 : 0; }

int wmain(int argc, wchar_t** argv) {
  const std::wstring command = argc > 1 ? argv[1] : L"";
  if (command == L"trace") {
    const auto span = OpenTracingDriver::StartSpan("hostMain", 1, "host");
    if (argc > 2) span->SetTag("payload", std::string(70000, 'x'));
    return span->IsEnabled() ? 0 : 2;
  }
  if (command == L"span") {
    const std::wstring provider = L"opentracingprovider.dll";
    const int first = spanOf();
    std::printf("first=%d tracing=%d loaded=%d", first, OpenTracingDriver::IsEnabled() ? 1 : 0,
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
                GetEnvironmentVariableW(kSpanContextVariable, nullptr, 0) != 0 ? 1 : 0,
                GetModuleHandleW(L"opentracingprovider.dll") != nullptr ? 1 : 0);
    return 0;
  }
  return 2;
}
