// driver_exit_host <ms> exitprocess|exit|return: four threads trace through the driver ("NEW: t<k> i")
// for ms after every thread's first span; it prints "finished <k> <count>" for each, then ends so.
#include <windows.h>

#include <atomic>
#include <cstdlib>

#include "driver/OpenTracingDriver.h"

namespace {

constexpr int kThreads = 4;
std::atomic<long> finished[kThreads];

DWORD WINAPI traceBusily(void* parameter) {
  const int thread = static_cast<int>(reinterpret_cast<INT_PTR>(parameter));
  for (int32_t i = 0;; ++i) {
    OpenTracingDriver::StartSpan("t" + std::to_string(thread), i, "")->SetTag("Round", "busy");
    finished[thread] = i + 1;
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3 || !OpenTracingDriver::IsEnabled()) return 2;
  for (int k = 0; k < kThreads; ++k) {
    if (!CreateThread(nullptr, 0, traceBusily, reinterpret_cast<void*>(static_cast<INT_PTR>(k)), 0, nullptr)) return 2;
    while (finished[k] == 0) Sleep(1);
  }
  Sleep(static_cast<DWORD>(std::atoi(argv[1])));
  std::string text;
  for (int k = 0; k < kThreads; ++k) text += "finished " + std::to_string(k) + " " + std::to_string(finished[k]) + "\n";
  // Straight to the handle: ExitProcess does not flush the run-time's buffer.
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  if (std::string(argv[2]) == "exitprocess") ExitProcess(0);
  if (std::string(argv[2]) == "exit") std::exit(0);
  return 0;
}
