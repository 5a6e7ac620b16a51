#include "diagnostics/log/eventLogSink.h"

#include "diagnostics/ExclusiveTask.h"
#include "diagnostics/log/LogManager.h"
#include "diagnostics/log/productSettings.h"
#include "platform/RegistryKey.h"
#include "platform/VFileName.h"
#include "platform/moduleName.h"
#include "platform/registry.h"

namespace {

constexpr const wchar_t* kRegistrationMutex = L"Global\\{F485C63C-FF60-4c1a-A4BF-A3958C9F3D32}";
constexpr const wchar_t* kEventLogRoot = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\";
constexpr DWORD kMaxSize = 8388608;
constexpr DWORD kRetention = 0;
constexpr DWORD kTypesSupported = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
constexpr DWORD kEventId = 1;

WORD eventType(LogLevel level) {
  switch (level) {
    case LogLevel::Info: return EVENTLOG_INFORMATION_TYPE;
    case LogLevel::Warning: return EVENTLOG_WARNING_TYPE;
    case LogLevel::Result: return EVENTLOG_SUCCESS;
    default: return EVENTLOG_ERROR_TYPE;
  }
}

}  // namespace

void configureEventLogLimits(const std::wstring& logName) {
  const std::wstring key = kEventLogRoot + logName;
  if (registry::exists(HKEY_LOCAL_MACHINE, key, RegistryViewDefault)) return;
  const RegistryKey log(HKEY_LOCAL_MACHINE, key, KEY_ALL_ACCESS, false);
  registry::set(log.get(), L"MaxSize", kMaxSize);
  registry::set(log.get(), L"Retention", kRetention);
}

HANDLE registerEventSource(const std::wstring& source) {
  HANDLE opened = nullptr;
  DWORD error = 0;
  {
    ExclusiveTask registration;
    registration.Initialize(kRegistrationMutex, INFINITE);
    const std::wstring logName = L"Kestrin";
    configureEventLogLimits(logName);
    const RegistryKey key(HKEY_LOCAL_MACHINE, kEventLogRoot + logName + L"\\" + source, KEY_SET_VALUE, false);
    registry::set(key.get(), L"TypesSupported", kTypesSupported);
    registry::set(key.get(), L"EventMessageFile", VFileName::combine(productRoot(), L"admin\\bin64\\eventmsg.dll"));
    opened = RegisterEventSourceW(nullptr, source.c_str());
    error = GetLastError();
  }
  // Closing the key and the mutex must not hide why the source did not open.
  SetLastError(error);
  return opened;
}

bool reportToEventLog(LogManager& manager, LogLevel level, const std::wstring& text) {
  try {
    const HANDLE source = manager.getEventLog();
    const std::wstring executable = moduleName(nullptr);
    const wchar_t* strings[] = {text.c_str(), executable.c_str()};
    if (ReportEventW(source, eventType(level), 0, kEventId, nullptr, 2, 0, strings, nullptr)) return true;
    manager.dropEventLog(source);
  } catch (...) {
  }
  return false;
}
