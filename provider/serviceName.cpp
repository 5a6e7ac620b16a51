#include "provider/serviceName.h"

#include <windows.h>
#include <shlwapi.h>

#include <cwchar>

#include "platform/moduleName.h"
#include "platform/stringConversion.h"

std::string serviceName() {
  std::wstring name = PathFindFileNameW(moduleName(nullptr).c_str());
  // Only the last extension goes: Tool.Name.exe is the service Tool.Name.
  PathRemoveExtensionW(name.data());
  name.resize(wcslen(name.c_str()));
  return cstr(name, CP_ACP);
}
