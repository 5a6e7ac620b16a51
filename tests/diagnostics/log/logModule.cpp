// logmodule.dll: a second module with its own copy of the platform layer and so its own LogManager.
#include "diagnostics/log/LogManager.h"

extern "C" __declspec(dllexport) void LogModuleLog(int level, const wchar_t* text) {
  LogManager::instance().log(static_cast<LogLevel>(level), vexception(text, ExceptionSite("LogModuleLog", 9)));
}
