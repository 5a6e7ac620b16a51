#pragma once
// One named log: lines appended to "kestrinlog_" + name + yyyymmdd + ".log" (UTF-16 LE, one
// byte-order mark) in PRODUCT_ROOT_D\admin\logs, by every process and thread that logs under the
// name, serialised by the mutex "kestrinlog_" + name + "_mutex". The file is opened and closed for
// every line, so the date of each line picks its file. Used by one thread; the file and mutex are
// shared.

#include <cstdint>
#include <memory>
#include <string>

#include "platform/VMutex.h"

class LogFile {
 public:
  // An empty name means the executable's file name. The registry value "log_" + name + "_enabled"
  // overrides enabledByDefault; when the log is off nothing else is looked up or created.
  // Raises when PRODUCT_ROOT_D cannot be read or the mutex cannot be made.
  LogFile(const std::wstring& name, bool enabledByDefault);

  // Appends text as one line: local time, process id, thread id, text, CR LF. Creates the log
  // folder when it is missing. Raises on file errors; the mutex is released on every way out.
  void write(const std::wstring& text);

  bool isEnabled() const { return enabled != 0; }

 private:
  std::wstring name;
  uint32_t enabled = 0;
  std::wstring directory;         // set only when enabled
  std::unique_ptr<VMutex> mutex;  // made only when enabled
};
