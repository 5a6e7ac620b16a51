#include "tests/provider/ProviderLibrary.h"

#include "driver/VModule.h"
#include "platform/VFileName.h"
#include "platform/moduleName.h"

namespace {

template <class Fn>
Fn resolve(HMODULE module, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(VModule::getProcAddress(module, name)));
}

}  // namespace

ProviderLibrary::ProviderLibrary()
    : library_(VFileName::combine(VFileName::directory(moduleName(nullptr)), L"opentracingprovider.dll")),
      getTracer(resolve<OpenTracingDriver::GetTracerFn>(library_.get(), OpenTracingDriver::kGetTracerExport)),
      getSpanContext(
          resolve<OpenTracingDriver::GetSpanContextFn>(library_.get(), OpenTracingDriver::kGetSpanContextExport)),
      injectCurrentSpan(resolve<OpenTracingDriver::InjectCurrentSpanFn>(library_.get(),
                                                                         OpenTracingDriver::kInjectCurrentSpanExport)) {}
