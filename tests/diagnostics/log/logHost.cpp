// loghost: a logging process for the tests.
//   loghost log L text [L text ...]   logs each text at its level through this module's LogManager
//   loghost modules text1 text2       text1 from this module, then text2 from logmodule.dll
//   loghost failreport L text [...]   as log, but the system refuses the process's first event
//                                     report (Wine's never fails: it only prints what it gets)
//   loghost lines name count tag [gate]
//                                     two threads each write count lines "tag.T.n" to log name;
//                                     with a gate folder, first creates gate\ready.tag and waits
//                                     for gate\go, so that writers started apart write at once
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <thread>

#include "diagnostics/log/LogFile.h"
#include "diagnostics/log/LogManager.h"
#include "platform/VFileName.h"
#include "platform/moduleName.h"

namespace {

void logAll(int argc, wchar_t** argv, int first) {
  for (int i = first; i + 1 < argc; i += 2) {
    LogManager::instance().log(static_cast<LogLevel>(std::wcstol(argv[i], nullptr, 10)),
                               vexception(argv[i + 1], ExceptionSite("loghost", 30)));
  }
}

void waitAtGate(const std::wstring& gate, const std::wstring& tag) {
  CloseHandle(CreateFileW((gate + L"\\ready." + tag).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  while (GetFileAttributesW((gate + L"\\go").c_str()) == INVALID_FILE_ATTRIBUTES) Sleep(1);
}

using ReportEventFunction = decltype(&ReportEventW);
ReportEventFunction systemReportEvent = nullptr;
std::atomic<int> refusalsLeft{1};

BOOL WINAPI refusingReportEvent(HANDLE source, WORD type, WORD category, DWORD id, PSID user, WORD count, DWORD size,
                                LPCWSTR* strings, LPVOID data) {
  if (refusalsLeft.fetch_sub(1) > 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return systemReportEvent(source, type, category, id, user, count, size, strings, data);
}

// Points this executable's import of ReportEventW at refusingReportEvent.
bool refuseFirstReport() {
  auto* base = reinterpret_cast<BYTE*>(GetModuleHandleW(nullptr));
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
  const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  for (auto* dll = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress); dll->Name != 0; ++dll) {
    if (_stricmp(reinterpret_cast<const char*>(base + dll->Name), "advapi32.dll") != 0) continue;
    auto* name = reinterpret_cast<IMAGE_THUNK_DATA*>(base + dll->OriginalFirstThunk);
    auto* slot = reinterpret_cast<IMAGE_THUNK_DATA*>(base + dll->FirstThunk);
    for (; name->u1.AddressOfData != 0; ++name, ++slot) {
      if (IMAGE_SNAP_BY_ORDINAL(name->u1.Ordinal)) continue;
      const auto* byName = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + name->u1.AddressOfData);
      if (std::strcmp(reinterpret_cast<const char*>(byName->Name), "ReportEventW") != 0) continue;
      DWORD protection = 0;
      VirtualProtect(&slot->u1.Function, sizeof(slot->u1.Function), PAGE_READWRITE, &protection);
      systemReportEvent = reinterpret_cast<ReportEventFunction>(slot->u1.Function);
      slot->u1.Function = reinterpret_cast<ULONG_PTR>(&refusingReportEvent);
      VirtualProtect(&slot->u1.Function, sizeof(slot->u1.Function), protection, &protection);
      return true;
    }
  }
  return false;
}

int writeLines(const wchar_t* name, int count, const std::wstring& tag) {
  std::atomic<int> failed{0};
  const auto work = [&](int thread) {
    try {
      for (int n = 0; n < count; ++n) {
        LogFile(name, true).write(tag + L"." + std::to_wstring(thread) + L"." + std::to_wstring(n));
      }
    } catch (const vexception& error) {
      std::fprintf(stderr, "%ls\n", error.message.c_str());
      failed = 1;
    }
  };
  std::thread second(work, 2);
  work(1);
  second.join();
  return failed;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring command = argc > 1 ? argv[1] : L"";
  try {
    if (command == L"log") {
      logAll(argc, argv, 2);
    } else if (command == L"failreport") {
      if (!refuseFirstReport()) return 3;
      logAll(argc, argv, 2);
    } else if (command == L"modules" && argc == 4) {
      const std::wstring path = VFileName::combine(VFileName::directory(moduleName(nullptr)), L"logmodule.dll");
      HMODULE module = LoadLibraryW(path.c_str());
      auto logInModule = reinterpret_cast<void (*)(int, const wchar_t*)>(
          reinterpret_cast<void*>(GetProcAddress(module, "LogModuleLog")));
      if (logInModule == nullptr) return 3;
      LogManager::instance().log(LogLevel::Error, vexception(argv[2], ExceptionSite("loghost", 82)));
      logInModule(static_cast<int>(LogLevel::Error), argv[3]);
    } else if (command == L"lines" && (argc == 5 || argc == 6)) {
      if (argc == 6) waitAtGate(argv[5], argv[4]);
      return writeLines(argv[2], std::wcstol(argv[3], nullptr, 10), argv[4]);
    } else {
      return 2;
    }
  } catch (...) {
    return 1;
  }
  return 0;
}
