#include "diagnostics/log/LogFile.h"

#include <windows.h>

#include <atomic>
#include <map>
#include <optional>
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
// Fixed sites: the product's logs and other modules know these lines, whatever the source's own.
constexpr SiteName kTooLongSite{"LogFile::write", 90};

// Opens the day's file for appending only, creating it and, when it is missing, the log folder:
// without the folder every line of a fresh installation would be lost. The system places each
// write of such a handle at the end of the file as it is then, so no writer can overwrite another's
// line from a stale position. Read access is what the turn lock below needs; it writes nothing.
void openLogFile(VFile& file, const std::wstring& directory, const std::wstring& path) {
  const auto open = [&] {
    file.open(VFileName::longPath(path), FILE_APPEND_DATA | FILE_READ_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
              FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL);
  };
  try {
    open();
  } catch (const VPathNotFoundException&) {
    VDirectory::createDirectory(directory, nullptr);
    open();
  }
}

// A writer's turn at a log file, shared by the writers of every session: the mutex orders those of
// one session only, and an append is one step on a local volume but not on every file system a log
// folder can be on. The lock is on one byte far beyond the end of any log, so it never stands in a
// reader's way, and the system drops it with the handle of a writer that dies. A writer that does
// not get its turn within kLongestTurnWait writes anyway rather than hold up its host.
struct FileTurn {
  HANDLE file;
};

constexpr ULONGLONG kLongestTurnWait = 2000;  // milliseconds

OVERLAPPED turnByte() {
  OVERLAPPED at{};
  at.OffsetHigh = 0x100;  // 1 TiB
  return at;
}

// Whether the turn came within kLongestTurnWait; false too when the file cannot be locked at all.
bool tryTakeTurn(FileTurn* turn) {
  const ULONGLONG giveUpAt = GetTickCount64() + kLongestTurnWait;
  for (int tries = 0;; ++tries) {
    OVERLAPPED at = turnByte();
    if (LockFileEx(turn->file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) return true;
    if (GetLastError() != ERROR_LOCK_VIOLATION || GetTickCount64() >= giveUpAt) return false;
    Sleep(tries < 20 ? 0 : 1);
  }
}

void releaseLock(FileTurn* turn) noexcept {
  OVERLAPPED at = turnByte();
  UnlockFileEx(turn->file, 0, 1, 0, &at);
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
  FileTurn turn{file.get()};
  std::optional<ScopedLock<FileTurn>> held;
  if (tryTakeTurn(&turn)) held.emplace(&turn, std::adopt_lock);
  // The whole line, with the mark in front when the file is new, goes out in one write.
  std::wstring line;
  if (file.size() == 0) line += kByteOrderMark;
  line += VDateTime().format(L"/");
  line += formatString(L" %lu %lu ", static_cast<unsigned long>(GetCurrentProcessId()),
                       static_cast<unsigned long>(GetCurrentThreadId()));
  line += text;
  line += L"\r\n";
  if (line.size() > kLongestLine) throw ArgumentException(L"Log line too long for one write", kTooLongSite);
  file.write(line.data(), static_cast<uint32_t>(line.size() * sizeof(wchar_t)), true);
}
