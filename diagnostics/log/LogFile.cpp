#include "diagnostics/log/LogFile.h"

#include <windows.h>

#include "diagnostics/log/productSettings.h"
#include "diagnostics/vexception.h"
#include "platform/VDateTime.h"
#include "platform/VDirectory.h"
#include "platform/VFile.h"
#include "platform/VFileName.h"
#include "platform/formatString.h"
#include "platform/moduleName.h"
#include "platform/registry.h"

namespace {

constexpr wchar_t kByteOrderMark = 0xFEFF;
constexpr size_t kLongestLine = 0x7FFFFFFF / sizeof(wchar_t);
constexpr SiteName kTooLongSite{"LogFile::write", 90};

// Releases the log's mutex on every way out of a write.
class MutexHold {
 public:
  explicit MutexHold(VMutex& mutex) : mutex_(mutex) { mutex_.lock(INFINITE); }
  ~MutexHold() {
    try {
      mutex_.unlock();
    } catch (...) {
    }
  }
  MutexHold(const MutexHold&) = delete;
  MutexHold& operator=(const MutexHold&) = delete;

 private:
  VMutex& mutex_;
};

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

}  // namespace

LogFile::LogFile(const std::wstring& logName, bool enabledByDefault)
    : name(logName.empty() ? VFileName::fileName(moduleName(nullptr)) : logName), enabled(enabledByDefault ? 1 : 0) {
  DWORD value = enabled;
  if (registry::lookup(HKEY_LOCAL_MACHINE, kProductConfigKey, L"log_" + name + L"_enabled", value, RegistryView32) ==
      ERROR_SUCCESS) {
    enabled = value;
  }
  if (enabled == 0) return;
  directory = VFileName::combine(productRoot(), L"admin\\logs");
  mutex = std::make_unique<VMutex>(false, (L"kestrinlog_" + name + L"_mutex").c_str());
}

void LogFile::write(const std::wstring& text) {
  if (enabled == 0) return;
  MutexHold hold(*mutex);
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
