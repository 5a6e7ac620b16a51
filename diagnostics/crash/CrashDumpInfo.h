#pragma once
// The crash-dump settings of one module, read once when it is loaded: whether dumps are written,
// where, under which name, and how many are kept at unload; and the heap-corruption handler,
// registered while dumps are on. Construction never raises: settings that cannot be read, a
// missing product root or a folder that cannot be made turn dumps off. Safe to build under the
// loader lock (no library is loaded, no thread is waited for).

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

#include "diagnostics/crash/HeapCorruptionHandler.h"
#include "platform/UniqueHandle.h"

class CrashDumpInfo {
 public:
  // Reads the settings under SOFTWARE\Kestrin\Ondra Config\Config (32-bit view), creates the dump
  // folder and, when dumps are on, registers the heap-corruption handler first in the list.
  CrashDumpInfo() noexcept;
  // Removes the handler. The dump clean-up is the owner's to run before.
  virtual ~CrashDumpInfo();

  // The path of a new dump: location\prefix + "YYYYMMDD_hhmmss.dmp" in local time. Raises
  // vexception "Crash dumping does not enabled" when dumps are off, and when the path would be
  // longer than 260 characters. Call it holding writers().
  const std::wstring& getFileName();

  // Serialises the dump writers of the process's threads (the name buffers are shared). The
  // lock is re-entrant, so a fault while dumping on the same thread does not deadlock.
  CRITICAL_SECTION* writers() noexcept { return writersLock.get(); }

  bool enabled = true;
  uint32_t maxCount = 10;
  std::wstring location;
  std::wstring prefix;
  wchar_t stamp[20] = {};
  std::wstring fileName;
  wchar_t composed[261] = {};
  std::unique_ptr<HeapCorruptionHandler> handler;

  CrashDumpInfo(const CrashDumpInfo&) = delete;
  CrashDumpInfo& operator=(const CrashDumpInfo&) = delete;

 private:
  void readSettings();

  UniqueCriticalSection writersLock = makeCriticalSection();  // null only when dumps are off
};

// The CrashDumpInfo through which this module's fault handlers dump, or null (no dumps). The
// owner of the module's static CrashDumpInfo registers it after building it and clears it before
// destroying it.
void registerCrashDumpInfo(CrashDumpInfo* info) noexcept;
CrashDumpInfo* registeredCrashDumpInfo() noexcept;
