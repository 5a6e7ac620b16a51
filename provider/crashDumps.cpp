// The provider's crash dumps: its CrashDumpInfo, built at load after the current span's
// registration, and the clean-up of surplus dumps when the provider is unloaded or the process
// ends, before the heap-corruption handler goes. An end of the process that stopped other threads
// skips both: the clean-up allocates and the handler's removal takes the system's lock of the
// handler list, either of which a stopped thread may hold; the next clean end removes the dumps.
#include "diagnostics/crash/CrashDumpInfo.h"
#include "diagnostics/dumpCleanup/removeSurplusDumps.h"
#include "platform/processEnding.h"
#include "provider/loadOrder.h"

namespace {

class ProviderCrashDumps {
 public:
  // The clean-up at the end of the process needs to know whether the end stopped a thread.
  ProviderCrashDumps() noexcept {
    registerCrashDumpInfo(&info);
    if (info.enabled) startThreadCount();
  }
  ~ProviderCrashDumps() {
    registerCrashDumpInfo(nullptr);
    if (info.enabled) removeSurplusDumps(info.location, info.maxCount);
  }

 private:
  CrashDumpInfo info;
};

KESTRIN_LOAD_ORDER_CRASH_DUMPS ProcessStatic<ProviderCrashDumps> crashDumps;

}  // namespace
