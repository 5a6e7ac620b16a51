#include "tests/provider/ProviderLibrary.h"

#include "diagnostics/vexception.h"
#include "platform/VFileName.h"
#include "platform/moduleName.h"

namespace {

template <class Fn>
Fn resolve(HMODULE module, const char* name) {
  FARPROC entry = GetProcAddress(module, name);
  if (!entry) throwOSError(L"GetProcAddress", GetLastError(), ExceptionSite("resolve", __LINE__));
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(entry));
}

}  // namespace

ProviderLibrary::ProviderLibrary()
    : module_(LoadLibraryW(
          VFileName::combine(VFileName::directory(moduleName(nullptr)), L"opentracingprovider.dll").c_str())) {
  if (!module_) throwOSError(L"LoadLibrary", GetLastError(), ExceptionSite("ProviderLibrary", __LINE__));
  getTracer = resolve<OpenTracingDriver::GetTracerFn>(module_, OpenTracingDriver::kGetTracerExport);
  getSpanContext = resolve<OpenTracingDriver::GetSpanContextFn>(module_, OpenTracingDriver::kGetSpanContextExport);
  injectCurrentSpan =
      resolve<OpenTracingDriver::InjectCurrentSpanFn>(module_, OpenTracingDriver::kInjectCurrentSpanExport);
}

ProviderLibrary::~ProviderLibrary() { FreeLibrary(module_); }
