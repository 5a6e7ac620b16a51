// bench_load: what loading the shipped provider costs, next to the C++ run-time alone.
//   bench_load              prints the median of several LoadLibraryW timings, each in a fresh
//                           process, of the provider from the shipped files and of the shipped
//                           (stripped) libstdc++-6.dll, their ratio, and the time from starting a
//                           traced host to the end of its first span
//   bench_load time <dll>   loads dll and prints the microseconds LoadLibraryW took and whether
//                           ole32.dll and oleaut32.dll were loaded with it
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

#define ROUNDS 7

static double microseconds(LONGLONG ticks) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return (double)ticks * 1e6 / (double)frequency.QuadPart;
}

static int timeLoad(const wchar_t* dll) {
  LARGE_INTEGER start, end;
  QueryPerformanceCounter(&start);
  HMODULE module = LoadLibraryExW(dll, NULL, LOAD_WITH_ALTERED_SEARCH_PATH);
  QueryPerformanceCounter(&end);
  if (module == NULL) {
    printf("error %lu\n", GetLastError());
    return 1;
  }
  printf("%.0f %d %d\n", microseconds(end.QuadPart - start.QuadPart), GetModuleHandleW(L"ole32.dll") != NULL,
         GetModuleHandleW(L"oleaut32.dll") != NULL);
  return 0;
}

// Runs command line in a new process and reads what it prints; started is the counter just before.
static int runChild(wchar_t* command, char* out, DWORD size, LONGLONG* started) {
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, NULL, TRUE};
  HANDLE readEnd, writeEnd;
  if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return 0;
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = writeEnd;
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process;
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  *started = now.QuadPart;
  BOOL created = CreateProcessW(NULL, command, NULL, NULL, TRUE, 0, NULL, NULL, &startup, &process);
  CloseHandle(writeEnd);
  DWORD total = 0, got;
  while (created && total + 1 < size && ReadFile(readEnd, out + total, size - 1 - total, &got, NULL) && got > 0)
    total += got;
  out[total] = '\0';
  CloseHandle(readEnd);
  if (!created) return 0;
  WaitForSingleObject(process.hProcess, INFINITE);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return 1;
}

static int compareDoubles(const void* a, const void* b) {
  double x = *(const double*)a, y = *(const double*)b;
  return (x > y) - (x < y);
}

static double medianLoad(const wchar_t* self, const wchar_t* dll, int* withCom) {
  double times[ROUNDS];
  for (int i = 0; i < ROUNDS; ++i) {
    wchar_t command[2 * MAX_PATH + 16];
    swprintf(command, sizeof command / sizeof *command, L"\"%ls\" time \"%ls\"", self, dll);
    char out[128];
    LONGLONG started;
    int ole32 = 0, oleaut32 = 0;
    if (!runChild(command, out, sizeof out, &started) || sscanf(out, "%lf %d %d", &times[i], &ole32, &oleaut32) != 3) {
      printf("loading %ls failed: %s\n", dll, out);
      exit(1);
    }
    *withCom = ole32 || oleaut32;
  }
  qsort(times, ROUNDS, sizeof *times, compareDoubles);
  return times[ROUNDS / 2];
}

// Copies every DLL of folder \ into target \.
static void copyDlls(const wchar_t* folder, const wchar_t* target) {
  wchar_t pattern[MAX_PATH];
  swprintf(pattern, MAX_PATH, L"%ls\\*.dll", folder);
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(pattern, &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    wchar_t from[MAX_PATH], to[MAX_PATH];
    swprintf(from, MAX_PATH, L"%ls\\%ls", folder, found.cFileName);
    swprintf(to, MAX_PATH, L"%ls\\%ls", target, found.cFileName);
    CopyFileW(from, to, FALSE);
  } while (FindNextFileW(search, &found));
  FindClose(search);
}

// The median time from starting the traced host to the end of its first span, with tracing on.
static double firstSpan(const wchar_t* build) {
  wchar_t folder[MAX_PATH], shipped[MAX_PATH], host[MAX_PATH];
  swprintf(folder, MAX_PATH, L"%ls\\bench-load", build);
  swprintf(shipped, MAX_PATH, L"%ls\\release\\bin", build);
  swprintf(host, MAX_PATH, L"\"%ls\\bench_first_span.exe\"", folder);
  copyDlls(shipped, folder);

  HKEY key;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Kestrin\\Ondra Config\\Config", 0, NULL, 0,
                      KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_WOW64_32KEY, NULL, &key, NULL) != ERROR_SUCCESS)
    return -1;
  DWORD previous = 0, size = sizeof previous, type = 0, on = 1;
  const BOOL hadSwitch = RegQueryValueExW(key, L"opentracing_enabled", NULL, &type, (BYTE*)&previous, &size) ==
                         ERROR_SUCCESS && type == REG_DWORD;
  RegSetValueExW(key, L"opentracing_enabled", 0, REG_DWORD, (const BYTE*)&on, sizeof on);

  double times[ROUNDS];
  int rounds = 0;
  for (int i = 0; i < ROUNDS; ++i) {
    char out[128];
    LONGLONG started, ended;
    int traced = 0;
    if (runChild(host, out, sizeof out, &started) && sscanf(out, "%lld %d", &ended, &traced) == 2 && traced)
      times[rounds++] = microseconds(ended - started);
  }
  if (hadSwitch)
    RegSetValueExW(key, L"opentracing_enabled", 0, REG_DWORD, (const BYTE*)&previous, sizeof previous);
  else
    RegDeleteValueW(key, L"opentracing_enabled");
  RegCloseKey(key);
  if (rounds == 0) return -1;
  qsort(times, rounds, sizeof *times, compareDoubles);
  return times[rounds / 2];
}

int wmain(int argc, wchar_t** argv) {
  if (argc == 3 && wcscmp(argv[1], L"time") == 0) return timeLoad(argv[2]);

  wchar_t self[MAX_PATH], build[MAX_PATH], provider[MAX_PATH], runtime[MAX_PATH];
  GetModuleFileNameW(NULL, self, MAX_PATH);
  wcscpy(build, self);
  for (int cut = 0; cut < 2; ++cut) *wcsrchr(build, L'\\') = L'\0';  // <build>\bin\bench_load.exe
  swprintf(provider, MAX_PATH, L"%ls\\release\\bin\\opentracingprovider.dll", build);
  swprintf(runtime, MAX_PATH, L"%ls\\release\\bin\\libstdc++-6.dll", build);

  int providerCom = 0, runtimeCom = 0;
  const double providerTime = medianLoad(self, provider, &providerCom);
  const double runtimeTime = medianLoad(self, runtime, &runtimeCom);
  printf("LoadLibraryW, median of %d fresh processes, shipped files:\n", ROUNDS);
  printf("  opentracingprovider.dll  %8.0f us  (ole32/oleaut32 loaded with it: %s)\n", providerTime,
         providerCom ? "yes" : "no");
  printf("  libstdc++-6.dll          %8.0f us\n", runtimeTime);
  printf("  ratio                    %8.1f x  (goal: within 4 x)\n", providerTime / runtimeTime);
  const double span = firstSpan(build);
  if (span < 0)
    printf("traced host start to its first span's end: not measured (no traced span)\n");
  else
    printf("traced host start to its first span's end: %.0f us (median of %d)\n", span, ROUNDS);
  return 0;
}
