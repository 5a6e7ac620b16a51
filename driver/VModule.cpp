#include "driver/VModule.h"

#include "diagnostics/vexception.h"
#include "platform/formatString.h"

namespace {
// Fixed sites: the product's logs and other modules know these lines, whatever the source's own.
constexpr SiteName kGetProcAddressSite{"VModule::getProcAddress", 47};
}  // namespace

FARPROC VModule::getProcAddress(HMODULE module, const std::string& name) {
  const FARPROC address = GetProcAddress(module, name.c_str());
  if (address == nullptr) {
    throwLastError(kGetProcAddressSite, [&] { return formatString(L"GetProcAddress(%S)", name); });
  }
  return address;
}
