// bench_crash: the time and size of one crash dump of a small host, and what the provider's
// load-time crash-dump set-up (settings read, folder made, handler registered) adds to
// LoadLibraryW, against loading it with dumps off, in the same run. Each figure comes from a
// fresh process (this executable started again), since a library loads once per process.
// Changes PRODUCT_ROOT_D and CrashDumpsEnabled of the machine for the run and puts them back.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "diagnostics/crash/CrashDumpInfo.h"
#include "platform/RegistryKey.h"
#include "platform/registry.h"

namespace {

const wchar_t settingsKey[] = L"SOFTWARE\\Kestrin\\Ondra Config\\Config";

double seconds() {
  LARGE_INTEGER frequency, counter;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&counter);
  return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

HMODULE loadProvider() { return LoadLibraryW(L"opentracingprovider.dll"); }

// Child: the time of LoadLibraryW, in microseconds, on standard output.
int childLoadTime() {
  const double start = seconds();
  if (loadProvider() == nullptr) return 2;
  std::printf("%.0f\n", (seconds() - start) * 1e6);
  return 0;
}

// Child: the time of one heap-corruption dump, in milliseconds.
int childDump() {
  if (loadProvider() == nullptr) return 2;
  AddVectoredExceptionHandler(0, [](EXCEPTION_POINTERS*) -> LONG { return EXCEPTION_CONTINUE_EXECUTION; });
  const double start = seconds();
  RaiseException(0xC0000374, 0, 0, nullptr);
  std::printf("%.0f\n", (seconds() - start) * 1e3);
  return 0;
}

std::string run(const std::wstring& arguments) {
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
  HANDLE readEnd, writeEnd;
  CreatePipe(&readEnd, &writeEnd, &inherit, 0);
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW startup{sizeof(startup)};
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = writeEnd;
  startup.hStdError = writeEnd;
  std::wstring command = L"\"" + std::wstring(self) + L"\" " + arguments;
  PROCESS_INFORMATION process{};
  std::string output;
  if (CreateProcessW(self, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
    CloseHandle(writeEnd);
    char buffer[256];
    DWORD count = 0;
    while (ReadFile(readEnd, buffer, sizeof(buffer), &count, nullptr) && count > 0) output.append(buffer, count);
    WaitForSingleObject(process.hProcess, INFINITE);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  } else {
    CloseHandle(writeEnd);
  }
  CloseHandle(readEnd);
  return output;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : values[values.size() / 2];
}

// Microseconds per CrashDumpInfo built and destroyed in this process: the set-up alone.
double setUpTime(int count) {
  const double start = seconds();
  for (int i = 0; i < count; ++i) CrashDumpInfo info;
  return (seconds() - start) * 1e6 / count;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc > 1 && std::wstring(argv[1]) == L"loadtime") return childLoadTime();
  if (argc > 1 && std::wstring(argv[1]) == L"dump") return childDump();

  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const std::wstring root = std::wstring(temp) + L"kestrin_bench_crash";
  RegistryKey key(HKEY_LOCAL_MACHINE, settingsKey, KEY_ALL_ACCESS | KEY_WOW64_32KEY, false);
  std::wstring savedRoot;
  const bool hadRoot = registry::lookup(key.get(), L"PRODUCT_ROOT_D", savedRoot) == ERROR_SUCCESS;
  DWORD savedEnabled = 1;
  const bool hadEnabled = registry::lookup(key.get(), L"CrashDumpsEnabled", savedEnabled) == ERROR_SUCCESS;
  registry::set(key.get(), L"PRODUCT_ROOT_D", root);

  // Processes with dumps off and on take turns, so that drift of the machine hits both alike.
  constexpr int runs = 9;
  std::vector<double> off, on;
  run(L"loadtime");  // warms the file cache and the wineserver
  for (int i = 0; i < runs; ++i) {
    registry::set(key.get(), L"CrashDumpsEnabled", DWORD{0});
    off.push_back(std::atof(run(L"loadtime").c_str()));
    RegDeleteValueW(key.get(), L"CrashDumpsEnabled");
    on.push_back(std::atof(run(L"loadtime").c_str()));
  }
  std::printf("LoadLibraryW of the provider, median of %d processes each: dumps off %.0f us, dumps on %.0f us\n",
              runs, median(off), median(on));
  const double setUpOn = setUpTime(50);
  registry::set(key.get(), L"CrashDumpsEnabled", DWORD{0});
  const double setUpOff = setUpTime(50);
  RegDeleteValueW(key.get(), L"CrashDumpsEnabled");
  std::printf("the crash-dump set-up alone, in process: dumps on %.0f us, dumps off %.0f us\n", setUpOn, setUpOff);

  const std::string dumpTime = run(L"dump");
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((root + L"\\etc\\crashdumps\\bench_crash*.dmp").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    const unsigned long long size = (static_cast<unsigned long long>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
    std::printf("one type-7 dump of this host: %.0f ms, %.1f MB\n", std::atof(dumpTime.c_str()), size / 1048576.0);
    FindClose(search);
    DeleteFileW((root + L"\\etc\\crashdumps\\" + found.cFileName).c_str());
  } else {
    std::printf("no dump was written\n");
  }

  if (hadRoot) registry::set(key.get(), L"PRODUCT_ROOT_D", savedRoot); else RegDeleteValueW(key.get(), L"PRODUCT_ROOT_D");
  if (hadEnabled) registry::set(key.get(), L"CrashDumpsEnabled", savedEnabled);
  return 0;
}
