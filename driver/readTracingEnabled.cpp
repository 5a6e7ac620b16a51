#include "driver/readTracingEnabled.h"

#include <cwctype>
#include <string>
#include <vector>

#include "platform/RegistryKey.h"
#include "platform/VFileName.h"
#include "platform/moduleName.h"

bool readTracingEnabled() {
  try {
    // Hosts that load the product's modules but must never trace.
    const std::vector<std::wstring> excluded = {L"larkmodule.dll", L"wrenmodule.dll"};
    std::wstring executable = VFileName::fileName(moduleName(nullptr));
    for (wchar_t& c : executable) c = static_cast<wchar_t>(std::towlower(c));
    for (const std::wstring& name : excluded) {
      if (executable == name) return false;
    }
    const RegistryKey key(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Kestrin\\Ondra Config\\Config", KEY_READ | KEY_WOW64_32KEY,
                          false);
    return registry::readDWORD(key.get(), L"opentracing_enabled", 0) != 0;
  } catch (...) {
    return false;
  }
}
