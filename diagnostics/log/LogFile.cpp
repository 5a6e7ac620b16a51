#include "diagnostics/log/LogFile.h"

#include <windows.h>

#include <atomic>
#include <map>
#include <utility>

#include "diagnostics/log/productSettings.h"
#include "diagnostics/vexception.h"
#include "platform/RegistryWatch.h"
#include "platform/ScopedLock.h"
#include "platform/VDateTime.h"
#include "platform/VDirectory.h"
#include "platform/VFile.h"
#include "platform/VFileName.h"
#include "platform/VMutex.h"
#include "platform/formatString.h"
#include "platform/moduleName.h"
#include "platform/processEnding.h"
#include "platform/registry.h"

struct LogTarget {
  LogTarget(std::wstring folder, const std::wstring& name)
      : directory(std::move(folder)), mutex(false, (L"kestrinlog_" + name + L"_mutex").c_str()) {}

  const std::wstring directory;
  VMutex mutex;  // its calls only read the handle, so the threads of the module share it
};

namespace {

constexpr wchar_t kByteOrderMark = 0xFEFF;
constexpr size_t kLongestLine = 0x7FFFFFFF / sizeof(wchar_t);
constexpr SiteName kTooLongSite{"LogFile::write", 90};

// Opens the day's file, creating the log folder first when it is missing: without it every line
// of a fresh installation would be lost.
void openLogFile(VFile& file, const std::wstring& directory, const std::wstring& path) {
  const auto open = [&] {
    file.open(VFileName::longPath(path), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL);
  };
  try {
    open();
  } catch (const VPathNotFoundException&) {
    VDirectory::createDirectory(directory, nullptr);
    open();
  }
}

// The log's switch and root as the registry holds them now; null when the log is off.
std::shared_ptr<LogTarget> readTarget(const std::wstring& name, bool enabledByDefault) {
  DWORD enabled = enabledByDefault ? 1 : 0;
  registry::lookup(HKEY_LOCAL_MACHINE, kProductConfigKey, L"log_" + name + L"_enabled", enabled, RegistryView32);
  if (enabled == 0) return nullptr;
  return std::make_shared<LogTarget>(VFileName::combine(productRoot(), L"admin\\logs"), name);
}

// Set when the module's cache is destroyed at unload: a log call from a later destructor then
// reads the settings every time.
std::atomic<bool> cacheGone{false};

// The targets of the logs this module wrote, each with the settings generation it was read under.
struct TargetCache {
  struct Entry {
    uint64_t generation = RegistryWatch::kUnwatched;
    std::shared_ptr<LogTarget> target;
  };
  ~TargetCache() { cacheGone.store(true); }

  SRWLOCK lock = SRWLOCK_INIT;  // guards entries
  std::map<std::pair<std::wstring, bool>, Entry> entries;
};

std::shared_ptr<LogTarget> currentTarget(const std::wstring& name, bool enabledByDefault) {
  const uint64_t generation = productSettingsGeneration();
  if (generation == RegistryWatch::kUnwatched || cacheGone.load()) return readTarget(name, enabledByDefault);
  static ProcessStatic<TargetCache> cache;
  ScopedLock<SRWLOCK> hold(&cache->lock);
  TargetCache::Entry& entry = cache->entries[{name, enabledByDefault}];
  if (entry.generation != generation) {
    // Dropped first: a log switched off keeps no mutex, and a failed read is retried next time.
    entry = TargetCache::Entry{};
    entry.target = readTarget(name, enabledByDefault);
    entry.generation = generation;
  }
  return entry.target;
}

}  // namespace

LogFile::LogFile(const std::wstring& logName, bool enabledByDefault)
    : name(logName.empty() ? VFileName::fileName(moduleName(nullptr)) : logName),
      target(currentTarget(name, enabledByDefault)) {}

void LogFile::write(const std::wstring& text) {
  if (!target) return;
  const ScopedLock<VSyncObject> hold(&target->mutex);
  const std::wstring& directory = target->directory;
  const std::wstring path =
      VFileName::combine(directory, L"kestrinlog_" + name + VDateTime().dateStamp() + L".log");
  VFile file;
  openLogFile(file, directory, path);
  int32_t high = 0;
  const uint32_t low = file.seek(0, &high, FILE_END);
  // The whole line, with the mark in front when the file is new, goes out in one write.
  std::wstring line;
  if (low == 0 && high == 0) line += kByteOrderMark;
  line += VDateTime().format(L"/");
  line += formatString(L" %lu %lu ", static_cast<unsigned long>(GetCurrentProcessId()),
                       static_cast<unsigned long>(GetCurrentThreadId()));
  line += text;
  line += L"\r\n";
  if (line.size() > kLongestLine) throw ArgumentException(L"Log line too long for one write", kTooLongSite);
  file.write(line.data(), static_cast<uint32_t>(line.size() * sizeof(wchar_t)), true);
}
