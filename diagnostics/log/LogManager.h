#pragma once
// The module's log: turns a logged exception into its full text and hands it to the day's debug
// log file, the "Kestrin" event log, the console and the listeners of the process. Which levels
// reach the event log and the console is decided by switches the first module of the process
// sets; whether Info, Warning and Result reach the file is decided by the registry value Debug.
// Any thread may log; the sinks never raise.

#include <windows.h>

#include <string>

#include "diagnostics/log/LogLevel.h"
#include "diagnostics/vexception.h"
#include "platform/UniqueHandle.h"

template <typename T>
class ProcessStatic;

inline void deregisterEventSource(HANDLE source) noexcept { DeregisterEventSource(source); }
// An event source opened with RegisterEventSourceW.
using UniqueEventSource = UniqueHandle<NullEmptyTraits<HANDLE, deregisterEventSource>>;

class LogManager {
 public:
  // The module's log manager. The first call creates it and, when the process has no log
  // settings yet, creates them with the default switches. Its event source is deregistered when
  // the module is unloaded or the process ends.
  static LogManager& instance();

  // Logs error at level to every sink that takes the level, then calls every listener of the
  // process in list order with the exception itself. Sink failures are swallowed; an exception
  // raised by a listener passes through.
  void log(LogLevel level, const vexception& error);

  // The event source of this executable, registered and opened on first use (and again after a
  // failed report dropped it). Raises when the source cannot be registered or opened.
  HANDLE getEventLog();

  // Closes source if it is still the current one, so that the next report opens it anew.
  void dropEventLog(HANDLE source) noexcept;

  LogManager(const LogManager&) = delete;
  LogManager& operator=(const LogManager&) = delete;

 private:
  LogManager();
  friend class ProcessStatic<LogManager>;

  SRWLOCK eventLock = SRWLOCK_INIT;  // guards eventLog and sourceName
  UniqueEventSource eventLog;        // null until first needed
  std::wstring sourceName;           // the executable's file name once needed
};

// Whether the registry value Debug is non-zero. The first call and every 16th call after it look
// whether the product's settings changed (productSettingsGeneration) and, if so, read the value
// again, so a change takes effect within 16 calls; a missing value keeps the last one read.
// Never raises.
bool isDebugLogging();
