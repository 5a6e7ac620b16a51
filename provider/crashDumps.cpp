// The provider's crash dumps: its CrashDumpInfo, built at load after the current span's
// registration, and the clean-up of surplus dumps when the provider is unloaded or the process
// ends, before the heap-corruption handler goes.
#include "diagnostics/crash/CrashDumpInfo.h"
#include "diagnostics/dumpCleanup/removeSurplusDumps.h"
#include "provider/loadOrder.h"

namespace {

class ProviderCrashDumps {
 public:
  ProviderCrashDumps() noexcept { registerCrashDumpInfo(&info); }
  ~ProviderCrashDumps() {
    registerCrashDumpInfo(nullptr);
    if (info.enabled) removeSurplusDumps(info.location, info.maxCount);
  }

 private:
  CrashDumpInfo info;
};

KESTRIN_LOAD_ORDER_CRASH_DUMPS ProviderCrashDumps crashDumps;

}  // namespace
