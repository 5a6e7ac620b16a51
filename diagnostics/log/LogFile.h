#pragma once
// One named log: lines appended to "kestrinlog_" + name + yyyymmdd + ".log" (UTF-16 LE, one
// byte-order mark) in PRODUCT_ROOT_D\admin\logs, by every process and thread that logs under the
// name. The mutex "kestrinlog_" + name + "_mutex" orders the writers of one session; writers of
// other sessions, which see another mutex, take turns through a lock on the file and append only,
// so no line is lost or torn whoever writes. The file is opened and closed for every line, so the
// date of each line picks its file.
// Used by one thread; the file and mutex are shared.

#include <memory>
#include <string>

// The folder and mutex of a log that is on, shared by the LogFile objects of one name in the
// module while the product's settings stay unchanged.
struct LogTarget;

class LogFile {
 public:
  // An empty name means the executable's file name. The registry value "log_" + name + "_enabled"
  // overrides enabledByDefault; when the log is off nothing else is looked up or created, and
  // the module keeps no mutex for it. The switch and PRODUCT_ROOT_D are read again only when the
  // product's settings changed since the last LogFile of the name (productSettingsGeneration), so
  // a change takes effect with the first LogFile made after it.
  // Raises when PRODUCT_ROOT_D cannot be read or the mutex cannot be made.
  LogFile(const std::wstring& name, bool enabledByDefault);

  // Appends text as one line: local time, process id, thread id, text, CR LF. Creates the log
  // folder when it is missing. Raises on file errors; the mutex is released on every way out.
  void write(const std::wstring& text);

  bool isEnabled() const { return target != nullptr; }

 private:
  std::wstring name;
  std::shared_ptr<LogTarget> target;  // null when the log is off
};
