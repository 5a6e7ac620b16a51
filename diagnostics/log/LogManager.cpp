#include "diagnostics/log/LogManager.h"

#include "diagnostics/ExecuteContext.h"
#include "diagnostics/LogSettings.h"
#include "diagnostics/log/ILogListener.h"
#include "diagnostics/log/LogFile.h"
#include "diagnostics/log/consoleSink.h"
#include "diagnostics/log/errorText.h"
#include "diagnostics/log/eventLogSink.h"
#include "diagnostics/log/productSettings.h"
#include "platform/processEnding.h"
#include "platform/RegistryWatch.h"
#include "platform/ScopedLock.h"
#include "platform/VFileName.h"
#include "platform/moduleName.h"
#include "platform/registry.h"
#include "platform/stringConversion.h"

namespace {

// Fixed sites: the product's logs and other modules know these lines, whatever the source's own.
constexpr SiteName kRegisterSite{"LogManager::getEventLog", 212};

constexpr int kLevelCount = 6;
constexpr uint32_t kDebugCheckEvery = 16;

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

// The day's "debug" log; Info, Warning and Result only while Debug is on. The text is composed
// only for a line that is written.
void writeToDebugLog(LogLevel level, const vexception& error) noexcept {
  try {
    if (!isDebugLogging() && static_cast<int32_t>(level) < static_cast<int32_t>(LogLevel::Error)) return;
    LogFile file(L"debug", true);
    file.write(wstr(levelName(level), CP_ACP) + L": " + formatExceptionText(error));
  } catch (...) {
  }
}

}  // namespace

LogManager& LogManager::instance() {
  static ProcessStatic<LogManager> manager;
  return manager.get();
}

LogManager::LogManager() {
  ExecuteContext* context = getExecuteContext();
  if (!hasLogSettings(context)) setDefaultSwitches(*getLogSettings(context));
}

void LogManager::log(LogLevel level, const vexception& error) {
  writeToDebugLog(level, error);
  LogSettings& settings = *getLogSettings(getExecuteContext());
  if (switchedOn(settings.eventLog, level)) {
    try {
      const HANDLE source = getEventLog();
      if (!reportToEventLog(source, level, formatExceptionText(error))) dropEventLog(source);
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
  static SRWLOCK lock = SRWLOCK_INIT;  // guards what follows
  static uint32_t calls = 0;
  static uint64_t readAt = RegistryWatch::kUnwatched;
  static DWORD cached = 0;
  ScopedLock<SRWLOCK> hold(&lock);
  if (calls++ % kDebugCheckEvery != 0) return cached != 0;
  // Asking whether the settings changed costs a call to the kernel too: every 16th call, as
  // the registry read it spares was.
  const uint64_t generation = productSettingsGeneration();
  if (generation == RegistryWatch::kUnwatched || generation != readAt) {
    try {
      registry::lookup(HKEY_LOCAL_MACHINE, kProductConfigKey, L"Debug", cached, RegistryView32);
    } catch (...) {
      readAt = RegistryWatch::kUnwatched;
      return false;
    }
    readAt = generation;
  }
  return cached != 0;
}
