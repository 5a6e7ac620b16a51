#include "platform/moduleName.h"

#include "diagnostics/vexception.h"

std::wstring moduleName(HMODULE module) {
  wchar_t buffer[261];
  const DWORD length = GetModuleFileNameW(module, buffer, 261);
  if (length == 0) throwOSError(L"GetModuleFileName", GetLastError(), ExceptionSite("moduleName", 131));
  return std::wstring(buffer, length);
}
