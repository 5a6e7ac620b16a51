// loghost: a logging process for the log tests; wmain lists its commands.
#include <atomic>
#include <cstdio>
#include <thread>

#include "diagnostics/log/LogFile.h"
#include "diagnostics/log/LogManager.h"
#include "tests/support/runProcess.h"

// The import slot through which this executable, the platform layer with it, calls ReportEventW.
extern "C" void* __imp_ReportEventW;

const auto systemReportEvent = reinterpret_cast<decltype(&ReportEventW)>(__imp_ReportEventW);
static std::atomic<bool> refused{false};

static BOOL WINAPI refusingReportEvent(HANDLE source, WORD type, WORD category, DWORD id, PSID user, WORD count,
                                DWORD size, LPCWSTR* strings, LPVOID data) {
  if (!refused.exchange(true)) return FALSE;
  return systemReportEvent(source, type, category, id, user, count, size, strings, data);
}

// Points the import slot at refusingReportEvent.
static bool refuseFirstReport() {
  DWORD protection = 0;
  if (!VirtualProtect(&__imp_ReportEventW, sizeof(void*), PAGE_READWRITE, &protection)) return false;
  __imp_ReportEventW = reinterpret_cast<void*>(&refusingReportEvent);
  return VirtualProtect(&__imp_ReportEventW, sizeof(void*), protection, &protection) != FALSE;
}


//   log L text [L text ...]    logs each text at its level through this module's LogManager
//   failreport L text [...]    as log, with the first event report refused (Wine never refuses one)
//   modules text1 text2        text1 from this module, then text2 from logmodule.dll
//   lines name count gate tag  its id in gate\ready.tag; at gate\go two threads write count lines "tag.T.n"
int wmain(int argc, wchar_t** argv) {
  const std::wstring command = argc > 1 ? argv[1] : L"";
  if (command == L"log" || (command == L"failreport" && refuseFirstReport())) {
    for (int i = 2; i + 1 < argc; i += 2) {
      LogManager::instance().log(static_cast<LogLevel>(std::wcstol(argv[i], nullptr, 10)),
                                 vexception(argv[i + 1], ExceptionSite("loghost", 30)));
    }
  } else if (command == L"modules" && argc == 4) {
    HMODULE module = LoadLibraryW((executableFolder() + L"\\logmodule.dll").c_str());
    auto logInModule = reinterpret_cast<void (*)(int, const wchar_t*)>(
        reinterpret_cast<void*>(GetProcAddress(module, "LogModuleLog")));
    if (logInModule == nullptr) return 3;
    LogManager::instance().log(LogLevel::Error, vexception(argv[2], ExceptionSite("loghost", 82)));
    logInModule(static_cast<int>(LogLevel::Error), argv[3]);
  } else if (command == L"lines" && argc == 6) {
    const std::wstring gate = argv[4];
    FILE* ready = _wfopen((gate + L"\\ready." + argv[5]).c_str(), L"w");
    std::fprintf(ready, "%lu", static_cast<unsigned long>(GetCurrentProcessId()));
    std::fclose(ready);
    while (GetFileAttributesW((gate + L"\\go").c_str()) == INVALID_FILE_ATTRIBUTES) Sleep(1);
    const long count = std::wcstol(argv[3], nullptr, 10);
    const auto work = [&](int thread) noexcept {
      for (int n = 0; n < count; ++n) {
        LogFile(argv[2], true).write(argv[5] + (L"." + std::to_wstring(thread)) + L"." + std::to_wstring(n));
      }
    };
    std::thread second(work, 2);
    work(1);
    second.join();
  } else {
    return 2;
  }
  return 0;
}
