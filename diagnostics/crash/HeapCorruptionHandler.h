#pragma once
// The vectored handler that writes a dump when the process's heap is found corrupted
// (0xC0000374). It never stops the exception: the system goes on to the next handler.

#include "diagnostics/crash/VectoredExceptionHandler.h"

class CrashDumpInfo;

class HeapCorruptionHandler : public VectoredExceptionHandler {
 public:
  // Registers the callback at the head of the list when info has dumps enabled. The callback
  // dumps through the CrashDumpInfo registered for the module (registerCrashDumpInfo).
  explicit HeapCorruptionHandler(const CrashDumpInfo& info) noexcept;
};

// The callback: dumps on heap corruption, swallowing every failure; always continues the search.
LONG CALLBACK onHeapCorruption(EXCEPTION_POINTERS* pointers);
