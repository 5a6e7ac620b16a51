// logmodule.dll: a second module of the test process with its own copy of the platform layer,
// and so its own LogManager, sharing the process's log settings through the execute context.
#include <string>

#include "diagnostics/log/LogManager.h"

extern "C" __declspec(dllexport) void LogModuleLog(int level, const wchar_t* text) {
  LogManager::instance().log(static_cast<LogLevel>(level), vexception(text, ExceptionSite("LogModuleLog", 9)));
}
