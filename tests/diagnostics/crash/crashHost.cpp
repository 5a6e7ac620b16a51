// A host for the crash-dump and removal tests: "heap <threads>" raises heap corruption on threads at
// once, "load [free|ended|running]" frees the provider or runs a thread that ends or outlives main;
// "recycler <path> <event>" waits, then prints the path.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "diagnostics/log/errorText.h"
#include "security/removal/recyclerPath.h"

int wmain(int argc, wchar_t** argv) {
  const std::wstring mode = argc > 1 ? argv[1] : L"";
  const std::wstring then = argc > 2 ? argv[2] : L"";
  if (mode == L"heap" || mode == L"load") {
    HMODULE provider = LoadLibraryW(L"opentracingprovider.dll");
    if (provider == nullptr) return 2;
    if (mode == L"heap") {
      constexpr DWORD heapCorruption = 0xC0000374;
      static std::atomic<int> hostHandlerRuns{0};
      AddVectoredExceptionHandler(0, [](EXCEPTION_POINTERS* pointers) -> LONG {
        if (pointers->ExceptionRecord->ExceptionCode != heapCorruption) return EXCEPTION_CONTINUE_SEARCH;
        ++hostHandlerRuns;
        return EXCEPTION_CONTINUE_EXECUTION;
      });
      const int threads = _wtoi(then.c_str());
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
    }
    if (then == L"free") FreeLibrary(provider);
    if (then == L"ended") std::thread([] {}).join();
    if (then == L"running") {
      // Known to run, past its start in the loader, before main returns.
      static std::atomic<bool> started{false};
      std::thread([] {
        started = true;
        for (;;) Sleep(1);
      }).detach();
      while (!started) Sleep(1);
    }
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
  return 5;  // an unknown mode
}
