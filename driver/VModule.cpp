#include "driver/VModule.h"

#include "diagnostics/vexception.h"
#include "platform/formatString.h"

FARPROC VModule::getProcAddress(HMODULE module, const std::string& name) {
  const FARPROC address = GetProcAddress(module, name.c_str());
  if (address == nullptr) {
    const DWORD code = GetLastError();
    throwOSError(formatString(L"GetProcAddress(%S)", name), code, ExceptionSite("VModule::getProcAddress", 47));
  }
  return address;
}
