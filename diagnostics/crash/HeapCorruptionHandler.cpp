#include "diagnostics/crash/HeapCorruptionHandler.h"

#include "diagnostics/crash/CrashDumpInfo.h"
#include "diagnostics/crash/crashDump.h"

namespace {
constexpr DWORD heapCorruption = 0xC0000374;
}

HeapCorruptionHandler::HeapCorruptionHandler(const CrashDumpInfo& info) noexcept {
  if (info.enabled) add(true, onHeapCorruption);
}

LONG CALLBACK onHeapCorruption(EXCEPTION_POINTERS* pointers) {
  if (pointers->ExceptionRecord->ExceptionCode == heapCorruption) {
    if (CrashDumpInfo* info = registeredCrashDumpInfo()) {
      try {
        writeCrashDump(pointers, *info);
      } catch (...) {
        // The dump is best-effort; the process's own handling goes on.
      }
    }
  }
  return EXCEPTION_CONTINUE_SEARCH;
}
