// Figures of the log: lines per second into a log file from one and from two processes, beside
// the floor of the same bytes written by bare file calls under the same named mutex; the cost of
// a log call that no sink takes, with where its time goes; and what making a log's mutex costs.
//   bench_log               runs everything and prints the figures
//   bench_log lines|floor N  (child) writes N lines one way
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "diagnostics/log/LogFile.h"
#include "diagnostics/log/LogManager.h"
#include "diagnostics/log/productSettings.h"
#include "platform/VDateTime.h"
#include "platform/VMutex.h"
#include "platform/formatString.h"
#include "platform/moduleName.h"
#include "platform/registry.h"

namespace {

using Clock = std::chrono::steady_clock;
const wchar_t* const kKey = L"SOFTWARE\\Kestrin\\Ondra Config\\Config";
const wchar_t* const kRoot = L"C:\\kestrin-logbench";
const std::wstring kText = L"Error: Access is denied. (Error code 5) at open thing\n   at (openThing line 77)";

double seconds(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

void writeLines(int count) {
  for (int n = 0; n < count; ++n) LogFile(L"bench", true).write(kText);
}

// The same bytes by bare calls: the mutex is made once, the file opened and closed per line.
void writeFloor(int count) {
  HANDLE mutex = CreateMutexW(nullptr, FALSE, L"kestrinlog_benchfloor_mutex");
  for (int n = 0; n < count; ++n) {
    WaitForSingleObject(mutex, INFINITE);
    const std::wstring path = std::wstring(kRoot) + L"\\admin\\logs\\kestrinlog_benchfloor" + VDateTime().dateStamp() + L".log";
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    std::wstring line;
    if (SetFilePointer(file, 0, nullptr, FILE_END) == 0) line += L'\xFEFF';
    line += VDateTime().format(L"/") + formatString(L" %lu %lu ", GetCurrentProcessId(), GetCurrentThreadId()) + kText +
            L"\r\n";
    DWORD written = 0;
    WriteFile(file, line.data(), static_cast<DWORD>(line.size() * 2), &written, nullptr);
    CloseHandle(file);
    ReleaseMutex(mutex);
  }
  CloseHandle(mutex);
}

// Runs this program twice at once with the arguments; returns the wall time of both.
double twoProcesses(const std::wstring& arguments) {
  const std::wstring self = moduleName(nullptr);
  PROCESS_INFORMATION processes[2]{};
  const auto start = Clock::now();
  for (PROCESS_INFORMATION& process : processes) {
    std::wstring command = L"\"" + self + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    CreateProcessW(self.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process);
  }
  for (PROCESS_INFORMATION& process : processes) {
    WaitForSingleObject(process.hProcess, INFINITE);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  return seconds(start);
}

template <class Work>
double nanosecondsPerCall(int count, Work&& work) {
  const auto start = Clock::now();
  for (int n = 0; n < count; ++n) work();
  return seconds(start) * 1e9 / count;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 3) {
    const int count = std::stoi(argv[2]);
    std::wstring(argv[1]) == L"lines" ? writeLines(count) : writeFloor(count);
    return 0;
  }
  HKEY key = nullptr;
  RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY, nullptr, &key, nullptr);
  std::wstring savedRoot;
  const bool hadRoot = registry::lookup(key, L"PRODUCT_ROOT_D", savedRoot) == ERROR_SUCCESS;
  registry::set(key, L"PRODUCT_ROOT_D", std::wstring(kRoot));
  DWORD savedDebug = 0;
  const bool hadDebug = registry::lookup(key, L"Debug", savedDebug) == ERROR_SUCCESS;
  registry::set(key, L"Debug", DWORD{0});
  CreateDirectoryW(kRoot, nullptr);
  CreateDirectoryW((std::wstring(kRoot) + L"\\admin").c_str(), nullptr);
  CreateDirectoryW((std::wstring(kRoot) + L"\\admin\\logs").c_str(), nullptr);

  const int lines = 3000;
  writeLines(50);
  writeFloor(50);
  for (int round = 0; round < 2; ++round) {
    auto start = Clock::now();
    writeLines(lines);
    const double logOne = lines / seconds(start);
    start = Clock::now();
    writeFloor(lines);
    const double floorOne = lines / seconds(start);
    const double logTwo = 2 * lines / twoProcesses(L"lines " + std::to_wstring(lines));
    const double floorTwo = 2 * lines / twoProcesses(L"floor " + std::to_wstring(lines));
    std::printf("log file, one process:   %8.0f lines/s  floor %8.0f lines/s  (%.2fx the floor's time)\n", logOne,
                floorOne, floorOne / logOne);
    std::printf("log file, two processes: %8.0f lines/s  floor %8.0f lines/s  (%.2fx the floor's time)\n", logTwo,
                floorTwo, floorTwo / logTwo);
  }

  const vexception error(L"Access is denied. (Error code 5) at open thing", ExceptionSite("openThing", 77));
  LogManager& log = LogManager::instance();
  const int calls = 160000;
  const double total = nanosecondsPerCall(calls, [&] { log.log(LogLevel::Warning, error); });
  const double debugCheck = nanosecondsPerCall(calls, [] { isDebugLogging(); });
  const double settingsCheck = nanosecondsPerCall(20000, [] { productSettingsGeneration(); });
  DWORD value = 0;
  const double registryRead = nanosecondsPerCall(2000, [&] {
    registry::lookup(HKEY_LOCAL_MACHINE, kKey, L"Debug", value, RegistryView32);
  });
  std::printf("LogManager::log(Warning), Debug off: %.0f ns a call\n", total);
  std::printf("  isDebugLogging: %.0f ns a call on average (every 16th call asks whether the settings changed: "
              "%.0f ns; only after a change it reads the registry: %.0f ns)\n",
              debugCheck, settingsCheck, registryRead);
  std::printf("  the rest (settings, switches, listeners): %.0f ns\n", total - debugCheck);

  // A log keeps its mutex while the settings stay unchanged; this is what each line paid before.
  const double mutexMade = nanosecondsPerCall(2000, [] { VMutex(false, L"kestrinlog_benchmade_mutex"); });
  const double mutexBare = nanosecondsPerCall(2000, [] {
    CloseHandle(CreateMutexW(nullptr, FALSE, L"kestrinlog_benchbare_mutex"));
  });
  std::printf("a log's mutex made and closed: %.0f ns (bare CreateMutexW without a descriptor: %.0f ns)\n", mutexMade,
              mutexBare);

  if (hadRoot) registry::set(key, L"PRODUCT_ROOT_D", savedRoot); else RegDeleteValueW(key, L"PRODUCT_ROOT_D");
  if (hadDebug) registry::set(key, L"Debug", savedDebug); else RegDeleteValueW(key, L"Debug");
  RegCloseKey(key);
  return 0;
}
