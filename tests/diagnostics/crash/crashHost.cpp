// A host process for the crash-dump and removal tests:
//   crashhost heap <threads>       loads the provider, raises heap corruption on that many threads
//                                  at once and reports how often its own later handler ran
//   crashhost load [free|ended|running]  loads the provider (and frees it again; or runs a
//                                  thread that ends, or one still running when main returns)
//   crashhost sleep <ms> [event]   signals the named event when running, then sleeps
//   crashhost recycler <path> <event>  waits for the named event, then prints recyclerPath(path)
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "diagnostics/log/errorText.h"
#include "security/removal/recyclerPath.h"

namespace {

constexpr DWORD heapCorruption = 0xC0000374;
std::atomic<int> hostHandlerRuns{0};

LONG CALLBACK hostHandler(EXCEPTION_POINTERS* pointers) {
  if (pointers->ExceptionRecord->ExceptionCode != heapCorruption) return EXCEPTION_CONTINUE_SEARCH;
  ++hostHandlerRuns;
  return EXCEPTION_CONTINUE_EXECUTION;
}

HMODULE loadProvider() {
  HMODULE provider = LoadLibraryW(L"opentracingprovider.dll");
  if (provider == nullptr) {
    std::printf("LoadLibraryW failed: %lu\n", GetLastError());
    std::exit(2);
  }
  return provider;
}

int raiseHeapCorruption(int threads) {
  loadProvider();
  AddVectoredExceptionHandler(0, hostHandler);
  std::atomic<int> ready{0};
  std::vector<std::thread> raisers;
  for (int i = 0; i < threads; ++i) {
    raisers.emplace_back([&] {
      ++ready;
      while (ready.load() < threads) std::this_thread::yield();
      RaiseException(heapCorruption, 0, 0, nullptr);
    });
  }
  for (std::thread& raiser : raisers) raiser.join();
  std::printf("host handler ran %d\n", hostHandlerRuns.load());
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring mode = argc > 1 ? argv[1] : L"";
  if (mode == L"heap" && argc > 2) return raiseHeapCorruption(_wtoi(argv[2]));
  if (mode == L"load") {
    HMODULE provider = loadProvider();
    std::printf("loaded\n");
    const std::wstring then = argc > 2 ? argv[2] : L"";
    if (then == L"free") FreeLibrary(provider);
    if (then == L"ended" || then == L"running") {
      // The running thread is known to run (past its start in the loader) before main returns.
      static HANDLE started = CreateEventW(nullptr, TRUE, FALSE, nullptr);
      static const bool keepRunning = then == L"running";
      HANDLE thread = CreateThread(nullptr, 0, [](void*) -> DWORD {
        SetEvent(started);
        while (keepRunning) Sleep(1);
        return 0;
      }, nullptr, 0, nullptr);
      WaitForSingleObject(then == L"ended" ? thread : started, INFINITE);
      CloseHandle(thread);
    }
    return 0;
  }
  if (mode == L"sleep" && argc > 2) {
    if (argc > 3) SetEvent(OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[3]));
    Sleep(static_cast<DWORD>(_wtoi(argv[2])));
    return 0;
  }
  if (mode == L"recycler" && argc > 3) {
    HANDLE go = OpenEventW(SYNCHRONIZE, FALSE, argv[3]);
    if (go == nullptr) return 4;
    WaitForSingleObject(go, 60000);
    try {
      std::printf("%ls\n", recyclerPath(argv[2]).c_str());
      return 0;
    } catch (const vexception& error) {
      std::printf("%ls\n", formatExceptionText(error).c_str());
      return 1;
    }
  }
  std::printf("unknown mode\n");
  return 5;
}
