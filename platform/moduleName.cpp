#include "platform/moduleName.h"

#include "diagnostics/vexception.h"

namespace {
// Fixed sites: the product's logs and other modules know these lines, whatever the source's own.
constexpr SiteName kModuleNameSite{"moduleName", 131};
}  // namespace

std::wstring moduleName(HMODULE module) {
  wchar_t buffer[261];
  const DWORD length = GetModuleFileNameW(module, buffer, 261);
  if (length == 0) throwLastError(kModuleNameSite, L"GetModuleFileName");
  return std::wstring(buffer, length);
}
