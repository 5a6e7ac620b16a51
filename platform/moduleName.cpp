#include "platform/moduleName.h"

#include "diagnostics/vexception.h"

namespace {
constexpr SiteName kModuleNameSite{"moduleName", 131};
}  // namespace

std::wstring moduleName(HMODULE module) {
  wchar_t buffer[261];
  const DWORD length = GetModuleFileNameW(module, buffer, 261);
  if (length == 0) throwLastError(kModuleNameSite, L"GetModuleFileName");
  return std::wstring(buffer, length);
}
