#include "diagnostics/log/productSettings.h"

#include "platform/registry.h"

std::wstring productRoot() {
  return registry::getstr(HKEY_LOCAL_MACHINE, kProductConfigKey, L"PRODUCT_ROOT_D", RegistryView32);
}
