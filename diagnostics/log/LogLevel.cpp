#include "diagnostics/log/LogLevel.h"

const char* levelName(LogLevel level) {
  switch (level) {
    case LogLevel::Info: return "Info";
    case LogLevel::Warning: return "Warning";
    case LogLevel::Result: return "Result";
    case LogLevel::Error: return "Error";
    case LogLevel::Unexpected: return "Unexpected";
    case LogLevel::Crash: return "Crash";
  }
  return "Unknown level";
}
