// loghost: a logging process for the tests.
//   loghost log L text [L text ...]   logs each text at its level through this module's LogManager
//   loghost modules text1 text2       text1 from this module, then text2 from logmodule.dll
//   loghost listen L text             as log, with a listener that prints "[listener L]" to stdout
//   loghost mutex L text              as log; the exit code is then OpenMutexW's error for
//                                     "kestrinlog_debug_mutex" (0 when it exists)
//   loghost lines name count tag      two threads each write count lines "tag.T.n" to log name
//   loghost date name                 writes one line to log name and prints its date stamp
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <thread>

#include "diagnostics/ExecuteContext.h"
#include "diagnostics/LogSettings.h"
#include "diagnostics/log/ILogListener.h"
#include "diagnostics/log/LogFile.h"
#include "diagnostics/log/LogManager.h"
#include "platform/VDateTime.h"
#include "platform/VFileName.h"
#include "platform/moduleName.h"

namespace {

void logAll(int argc, wchar_t** argv, int first) {
  for (int i = first; i + 1 < argc; i += 2) {
    LogManager::instance().log(static_cast<LogLevel>(std::wcstol(argv[i], nullptr, 10)),
                               vexception(argv[i + 1], ExceptionSite("loghost", 30)));
  }
}

class PrintingListener : public ILogListener {
 public:
  void onLog(int32_t level, const vexception&) override {
    std::printf("[listener %d]", static_cast<int>(level));
    std::fflush(stdout);
  }
};

void addListener(ILogListener* listener) {
  LogSettings& settings = *getLogSettings(getExecuteContext());
  LogListenerNode* sentinel = settings.listeners.sentinel;
  auto* node = new LogListenerNode{sentinel, sentinel->previous, listener};
  sentinel->previous->next = node;
  sentinel->previous = node;
  ++settings.listeners.size;
}

int writeLines(const wchar_t* name, int count, const std::wstring& tag) {
  const auto work = [&](int thread) {
    for (int n = 0; n < count; ++n) {
      LogFile(name, true).write(tag + L"." + std::to_wstring(thread) + L"." + std::to_wstring(n));
    }
  };
  std::thread second(work, 2);
  work(1);
  second.join();
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring command = argc > 1 ? argv[1] : L"";
  try {
    if (command == L"log") {
      logAll(argc, argv, 2);
    } else if (command == L"listen") {
      static PrintingListener listener;
      LogManager::instance();  // the first module of the process sets the switches
      addListener(&listener);
      logAll(argc, argv, 2);
    } else if (command == L"mutex") {
      logAll(argc, argv, 2);
      if (HANDLE mutex = OpenMutexW(SYNCHRONIZE, FALSE, L"kestrinlog_debug_mutex")) {
        CloseHandle(mutex);
        return 0;
      }
      return static_cast<int>(GetLastError());
    } else if (command == L"modules" && argc == 4) {
      const std::wstring path = VFileName::combine(VFileName::directory(moduleName(nullptr)), L"logmodule.dll");
      HMODULE module = LoadLibraryW(path.c_str());
      auto logInModule = reinterpret_cast<void (*)(int, const wchar_t*)>(
          reinterpret_cast<void*>(GetProcAddress(module, "LogModuleLog")));
      if (logInModule == nullptr) return 3;
      LogManager::instance().log(LogLevel::Error, vexception(argv[2], ExceptionSite("loghost", 82)));
      logInModule(static_cast<int>(LogLevel::Error), argv[3]);
    } else if (command == L"lines" && argc == 5) {
      return writeLines(argv[2], std::wcstol(argv[3], nullptr, 10), argv[4]);
    } else if (command == L"date" && argc == 3) {
      std::printf("%ls", VDateTime().dateStamp().c_str());
      std::fflush(stdout);
      LogFile(argv[2], true).write(L"dated line");
    } else {
      return 2;
    }
  } catch (...) {
    return 1;
  }
  return 0;
}
