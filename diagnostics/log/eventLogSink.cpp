#include "diagnostics/log/eventLogSink.h"

#include "diagnostics/ExclusiveTask.h"
#include "diagnostics/log/productSettings.h"
#include "diagnostics/vexception.h"
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
  const RegistryKey logKey(HKEY_LOCAL_MACHINE, key, KEY_ALL_ACCESS, false);
  registry::set(logKey.get(), L"MaxSize", kMaxSize);
  registry::set(logKey.get(), L"Retention", kRetention);
}

namespace {

// Whether the source's key already holds the values a registration writes. A value of another
// type counts as not holding them.
bool registrationStands(const std::wstring& sourceKey, const std::wstring& messageFile) {
  try {
    DWORD types = 0;
    std::wstring file;
    return registry::lookup(HKEY_LOCAL_MACHINE, sourceKey, L"TypesSupported", types, RegistryViewDefault) == 0 &&
           types == kTypesSupported &&
           registry::lookup(HKEY_LOCAL_MACHINE, sourceKey, L"EventMessageFile", file, REG_SZ, RegistryViewDefault) ==
               0 &&
           file == messageFile;
  } catch (const vexception&) {
    return false;
  }
}

}  // namespace

HANDLE registerEventSource(const std::wstring& source) {
  const std::wstring logName = L"Kestrin";
  const std::wstring sourceKey = kEventLogRoot + logName + L"\\" + source;
  const std::wstring messageFile = VFileName::combine(productRoot(), L"admin\\bin64\\eventmsg.dll");
  // A registration that stands is used as it is, without the machine-wide mutex or a write: a
  // process that may read but not change the event log's keys (a standard user's) reports
  // through the registration an installer or a service made.
  if (registrationStands(sourceKey, messageFile)) return RegisterEventSourceW(nullptr, source.c_str());
  // The key's and the mutex's owners keep the last error, so a caller still reads why the source
  // did not open.
  ExclusiveTask registration;
  registration.Initialize(kRegistrationMutex, INFINITE);
  configureEventLogLimits(logName);
  const RegistryKey key(HKEY_LOCAL_MACHINE, sourceKey, KEY_SET_VALUE, false);
  registry::set(key.get(), L"TypesSupported", kTypesSupported);
  registry::set(key.get(), L"EventMessageFile", messageFile);
  return RegisterEventSourceW(nullptr, source.c_str());
}

bool reportToEventLog(HANDLE source, LogLevel level, const std::wstring& text) noexcept {
  try {
    const std::wstring executable = moduleName(nullptr);
    const wchar_t* strings[] = {text.c_str(), executable.c_str()};
    return ReportEventW(source, eventType(level), 0, kEventId, nullptr, 2, 0, strings, nullptr) != FALSE;
  } catch (...) {
    return false;
  }
}
