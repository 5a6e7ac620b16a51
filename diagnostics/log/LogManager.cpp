#include "diagnostics/log/LogManager.h"

#include <atomic>

#include "diagnostics/ExecuteContext.h"
#include "diagnostics/LogSettings.h"
#include "diagnostics/log/ILogListener.h"
#include "diagnostics/log/LogFile.h"
#include "diagnostics/log/consoleSink.h"
#include "diagnostics/log/errorText.h"
#include "diagnostics/log/eventLogSink.h"
#include "diagnostics/log/productSettings.h"
#include "platform/ScopedLock.h"
#include "platform/VFileName.h"
#include "platform/moduleName.h"
#include "platform/registry.h"
#include "platform/stringConversion.h"

namespace {

constexpr int kLevelCount = 6;
constexpr uint32_t kDebugReadEvery = 16;

// The switch of level in a per-level array; levels outside 0..5 have none.
bool switchedOn(const uint8_t (&switches)[kLevelCount], LogLevel level) {
  const auto index = static_cast<int32_t>(level);
  return index >= 0 && index < kLevelCount && switches[index] != 0;
}

void setDefaultSwitches(LogSettings& settings) {
  const uint8_t debug = isDebugLogging() ? 1 : 0;
  for (int level = 0; level < kLevelCount; ++level) {
    settings.console[level] = level >= static_cast<int>(LogLevel::Result) ? 1 : 0;
    settings.eventLog[level] = level >= static_cast<int>(LogLevel::Error) ? 1 : debug;
  }
}

// The day's "debug" log; Info, Warning and Result only while Debug is on.
void writeToDebugLog(LogLevel level, const std::wstring& text) noexcept {
  try {
    if (!isDebugLogging() && static_cast<int32_t>(level) < static_cast<int32_t>(LogLevel::Error)) return;
    LogFile file(L"debug", true);
    file.write(wstr(levelName(level), CP_ACP) + L": " + text);
  } catch (...) {
  }
}

}  // namespace

LogManager& LogManager::instance() {
  static LogManager manager;
  return manager;
}

LogManager::LogManager() {
  ExecuteContext* context = getExecuteContext();
  if (!hasLogSettings(context)) setDefaultSwitches(*getLogSettings(context));
}

void LogManager::log(LogLevel level, const vexception& error) {
  writeToDebugLog(level, formatExceptionText(error));
  LogSettings& settings = *getLogSettings(getExecuteContext());
  if (switchedOn(settings.eventLog, level)) {
    try {
      reportToEventLog(*this, level, formatExceptionText(error));
    } catch (...) {
    }
  }
  if (switchedOn(settings.console, level)) {
    try {
      writeToConsole(settings, formatExceptionText(error));
    } catch (...) {
    }
  }
  const LogListenerNode* sentinel = settings.listeners.sentinel;
  if (sentinel == nullptr) return;
  for (const LogListenerNode* node = sentinel->next; node != sentinel; node = node->next) {
    node->listener->onLog(static_cast<int32_t>(level), error);
  }
}

HANDLE LogManager::getEventLog() {
  constexpr SiteName kRegisterSite{"LogManager::getEventLog", 212};
  ScopedLock<SRWLOCK> lock(&eventLock);
  if (eventLog) return eventLog.get();
  if (sourceName.empty()) sourceName = VFileName::fileName(moduleName(nullptr));
  eventLog.reset(registerEventSource(sourceName));
  if (!eventLog) throwLastError(kRegisterSite, L"RegisterEventSource");
  return eventLog.get();
}

void LogManager::dropEventLog(HANDLE source) noexcept {
  ScopedLock<SRWLOCK> lock(&eventLock);
  if (eventLog.get() == source) eventLog.reset();
}

bool isDebugLogging() {
  static std::atomic<uint32_t> calls{0};
  static std::atomic<DWORD> cached{0};
  if (calls.fetch_add(1, std::memory_order_relaxed) % kDebugReadEvery == 0) {
    try {
      DWORD value = cached.load(std::memory_order_relaxed);
      if (registry::lookup(HKEY_LOCAL_MACHINE, kProductConfigKey, L"Debug", value, RegistryView32) == ERROR_SUCCESS) {
        cached.store(value, std::memory_order_relaxed);
      }
    } catch (...) {
      return false;
    }
  }
  return cached.load(std::memory_order_relaxed) != 0;
}
