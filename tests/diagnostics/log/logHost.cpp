// loghost: a logging process for the log tests; wmain lists its commands.
#include <atomic>
#include <cstdio>
#include <thread>

#include "diagnostics/log/LogFile.h"
#include "diagnostics/log/LogManager.h"
#include "tests/support/runProcess.h"

namespace {

const auto systemReportEvent = reinterpret_cast<decltype(&ReportEventW)>(
    reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"advapi32.dll"), "ReportEventW")));
std::atomic<bool> refused{false};

BOOL WINAPI refusingReportEvent(HANDLE source, WORD type, WORD category, DWORD id, PSID user, WORD count,
                                DWORD size, LPCWSTR* strings, LPVOID data) {
  if (!refused.exchange(true)) return FALSE;
  return systemReportEvent(source, type, category, id, user, count, size, strings, data);
}

// Points this executable's import of ReportEventW at refusingReportEvent.
bool refuseFirstReport() {
  auto* base = reinterpret_cast<BYTE*>(GetModuleHandleW(nullptr));
  const LONG headers = reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew;
  const auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + headers);
  const IMAGE_DATA_DIRECTORY& table = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IAT];
  auto* slots = reinterpret_cast<ULONG_PTR*>(base + table.VirtualAddress);
  for (size_t i = 0; i < table.Size / sizeof(ULONG_PTR); ++i) {
    if (slots[i] != reinterpret_cast<ULONG_PTR>(systemReportEvent)) continue;
    DWORD protection = 0;
    VirtualProtect(&slots[i], sizeof(ULONG_PTR), PAGE_READWRITE, &protection);
    slots[i] = reinterpret_cast<ULONG_PTR>(&refusingReportEvent);
    VirtualProtect(&slots[i], sizeof(ULONG_PTR), protection, &protection);
    return true;
  }
  return false;
}

}  // namespace

//   log L text [L text ...]    logs each text at its level through this module's LogManager
//   failreport L text [...]    as log, with the first event report refused (Wine never refuses one)
//   modules text1 text2        text1 from this module, then text2 from logmodule.dll
//   lines name count gate tag  puts its process id in gate\ready.tag, waits for gate\go, then two
//                              threads each write count lines "tag.T.n" to log name; a failure ends it
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
