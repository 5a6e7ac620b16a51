#pragma once
// A listener that another module of the process registered in the shared log settings. The slot
// order is a contract between modules built separately: destructor, then onLog. This library only
// calls onLog; the modules that add listeners own, remove and delete them.

#include <cstdint>

#include "diagnostics/vexception.h"

class ILogListener {
 public:
  virtual ~ILogListener() = default;
  // Receives every message logged by any module of the process, on the logging thread. What it
  // raises leaves LogManager::log.
  virtual void onLog(int32_t level, const vexception& error) = 0;
};
