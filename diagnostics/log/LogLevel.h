#pragma once
// The levels of a logged exception, by severity. Other modules pass them as 32-bit integers.

#include <cstdint>

enum class LogLevel : int32_t {
  Info = 0,
  Warning = 1,
  Result = 2,
  Error = 3,
  Unexpected = 4,
  Crash = 5,
};

// "Info", "Warning", "Result", "Error", "Unexpected", "Crash"; "Unknown level" for any other value.
const char* levelName(LogLevel level);
