// driver_exit_host: a host of the product that ends its process while four threads trace through
// the driver as fast as they go, spans of function "t<k>" and line i (at the agent "NEW: t<k> i"),
// after printing how many spans each thread had finished ("finished <k> <count>"). The tracing
// time counts from every thread's first span, however long the provider took to load. The
// process ends by ExitProcess, exit or returning from main; the threads trace on meanwhile.
// Usage: driver_exit_host <ms of tracing> exitprocess|exit|return
// Exit code 0; 2 when the usage is wrong or tracing is off.
#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <string>

#include "driver/OpenTracingDriver.h"

namespace {

constexpr int kBusyThreads = 4;
std::atomic<long> finished[kBusyThreads];

DWORD WINAPI traceBusily(void* parameter) {
  const int thread = static_cast<int>(reinterpret_cast<INT_PTR>(parameter));
  const std::string function = "t" + std::to_string(thread);
  for (int32_t i = 0;; ++i) {
    OpenTracingDriver::StartSpan(function, i, "")->SetTag("Round", "busy");
    finished[thread] = i + 1;
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3 || !OpenTracingDriver::IsEnabled()) return 2;
  const std::string mode = argv[2];
  if (mode != "exitprocess" && mode != "exit" && mode != "return") return 2;
  for (int k = 0; k < kBusyThreads; ++k) {
    if (CreateThread(nullptr, 0, traceBusily, reinterpret_cast<void*>(static_cast<INT_PTR>(k)), 0, nullptr) == nullptr)
      return 2;
  }
  for (int k = 0; k < kBusyThreads; ++k) {
    while (finished[k] == 0) Sleep(1);
  }
  Sleep(static_cast<DWORD>(std::atoi(argv[1])));
  std::string text;
  for (int k = 0; k < kBusyThreads; ++k) text += "finished " + std::to_string(k) + " " + std::to_string(finished[k]) + "\n";
  // Straight to the handle: ExitProcess does not flush the run-time's buffer.
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  if (mode == "exitprocess") ExitProcess(0);
  if (mode == "exit") std::exit(0);
  return 0;
}
