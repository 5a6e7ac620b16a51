// loghost: a logging process for the log tests; wmain lists its commands.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>

#include "diagnostics/log/LogFile.h"
#include "diagnostics/log/LogManager.h"
#include "tests/support/runProcess.h"

namespace {

void logAll(int argc, wchar_t** argv) {
  for (int i = 2; i + 1 < argc; i += 2) {
    LogManager::instance().log(static_cast<LogLevel>(std::wcstol(argv[i], nullptr, 10)),
                               vexception(argv[i + 1], ExceptionSite("loghost", 30)));
  }
}

using ReportEventFunction = decltype(&ReportEventW);
const auto systemReportEvent = reinterpret_cast<ReportEventFunction>(
    reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"advapi32.dll"), "ReportEventW")));
std::atomic<bool> refused{false};

BOOL WINAPI refusingReportEvent(HANDLE source, WORD type, WORD category, DWORD id, PSID user, WORD count, DWORD size,
                                LPCWSTR* strings, LPVOID data) {
  return refused.exchange(true) ? systemReportEvent(source, type, category, id, user, count, size, strings, data) : FALSE;
}

// Points this executable's import of ReportEventW at refusingReportEvent.
bool refuseFirstReport() {
  auto* base = reinterpret_cast<BYTE*>(GetModuleHandleW(nullptr));
  const auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
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

// Puts this process's id in gate\ready.tag, then waits for gate\go, so that writers started apart
// write at once.
void waitAtGate(const std::wstring& gate, const std::wstring& tag) {
  FILE* ready = _wfopen((gate + L"\\ready." + tag).c_str(), L"w");
  std::fprintf(ready, "%lu", static_cast<unsigned long>(GetCurrentProcessId()));
  std::fclose(ready);
  while (GetFileAttributesW((gate + L"\\go").c_str()) == INVALID_FILE_ATTRIBUTES) Sleep(1);
}

// A line that cannot be written ends the process with the run-time's report of what was thrown.
void writeLines(const wchar_t* name, int count, const std::wstring& tag) {
  const auto work = [&](int thread) noexcept {
    for (int n = 0; n < count; ++n) {
      LogFile(name, true).write(tag + L"." + std::to_wstring(thread) + L"." + std::to_wstring(n));
    }
  };
  std::thread second(work, 2);
  work(1);
  second.join();
}

}  // namespace

//   log L text [L text ...]    logs each text at its level through this module's LogManager
//   failreport L text [...]    as log, the first event report refused (Wine's never fail)
//   modules text1 text2        text1 from this module, then text2 from logmodule.dll
//   lines name count tag [gate]  two threads each write count lines "tag.T.n" to log name (waitAtGate)
int wmain(int argc, wchar_t** argv) {
  const std::wstring command = argc > 1 ? argv[1] : L"";
  try {
    if (command == L"log" || (command == L"failreport" && refuseFirstReport())) {
      logAll(argc, argv);
    } else if (command == L"modules" && argc == 4) {
      HMODULE module = LoadLibraryW((executableFolder() + L"\\logmodule.dll").c_str());
      auto logInModule = reinterpret_cast<void (*)(int, const wchar_t*)>(
          reinterpret_cast<void*>(GetProcAddress(module, "LogModuleLog")));
      if (logInModule == nullptr) return 3;
      LogManager::instance().log(LogLevel::Error, vexception(argv[2], ExceptionSite("loghost", 82)));
      logInModule(static_cast<int>(LogLevel::Error), argv[3]);
    } else if (command == L"lines" && (argc == 5 || argc == 6)) {
      if (argc == 6) waitAtGate(argv[5], argv[4]);
      writeLines(argv[2], std::wcstol(argv[3], nullptr, 10), argv[4]);
    } else {
      return 2;
    }
  } catch (...) {
    return 1;
  }
  return 0;
}
