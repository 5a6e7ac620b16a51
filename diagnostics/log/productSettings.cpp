#include "diagnostics/log/productSettings.h"

#include <atomic>

#include "platform/RegistryWatch.h"
#include "platform/processEnding.h"
#include "platform/registry.h"

namespace {

// Set when the module's watch is destroyed at unload: a log call from a later destructor then
// reads the registry every time.
std::atomic<bool> watchGone{false};

class ProductSettingsWatch : public RegistryWatch {
 public:
  // The configuration key's parent: it also sees the key itself deleted and made again.
  ProductSettingsWatch() noexcept : RegistryWatch(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Kestrin\\Ondra Config", RegistryView32) {}
  ~ProductSettingsWatch() { watchGone.store(true); }
};

}  // namespace

std::wstring productRoot() {
  return registry::getstr(HKEY_LOCAL_MACHINE, kProductConfigKey, L"PRODUCT_ROOT_D", RegistryView32);
}

uint64_t productSettingsGeneration() noexcept {
  if (watchGone.load()) return RegistryWatch::kUnwatched;
  static ProcessStatic<ProductSettingsWatch> watch;
  return watch->generation();
}
