// Reports spans and ends its process with them still queued, as a host may: returning from
// main, calling exit, with the tracer installed as the global tracer, calling exit of the
// universal C run-time as a host built with Visual C++ does, or calling ExitProcess. "log"
// returns from main with span logging on. The "busy-" modes end the process while four threads
// trace as fast as they go, spans "<name>t<k> <i>" for thread k, after printing how many spans
// each thread had finished ("finished <k> <count>").
// Usage: jaeger_exit_host <agent host:port> <spans, or ms for busy-> <mode> [name]

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include <opentracing/tracer.h>

#include "jaegertracing/Tracer.h"

namespace {

constexpr int kBusyThreads = 4;
std::atomic<long> finished[kBusyThreads];

void traceBusily(std::shared_ptr<opentracing::Tracer> tracer, std::string group, int thread) {
  for (long i = 0;; ++i) {
    auto span = tracer->StartSpan(group + std::to_string(i));
    span->SetTag("Line", static_cast<int64_t>(i));
    span->Finish();
    finished[thread] = i + 1;
  }
}

// Straight to the handle, without the run-time's buffer, which exit may not flush.
void printFinished() {
  std::string text;
  for (int k = 0; k < kBusyThreads; ++k) text += "finished " + std::to_string(k) + " " + std::to_string(finished[k]) + "\n";
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) return 2;
  std::string mode = argv[3];
  const std::string name = argc > 4 ? argv[4] : "";
  // A Visual C++ host has the universal run-time loaded before it makes a tracer.
  HMODULE ucrt = mode == "ucrt-exit" ? LoadLibraryW(L"ucrtbase.dll") : nullptr;
  if (mode == "ucrt-exit" && ucrt == nullptr) return 3;
  // The process ends right after the burst, with spans still queued or in flight.
  auto tracer = jaegertracing::Tracer::make(
      "exit." + mode, jaegertracing::Config(false, jaegertracing::samplers::Config("const", 1),
                                            jaegertracing::reporters::Config(1000, std::chrono::minutes(10),
                                                                             mode == "log", argv[1])));
  const int count = std::atoi(argv[2]);
  if (mode.compare(0, 5, "busy-") == 0) {
    mode.erase(0, 5);
    for (int k = 0; k < kBusyThreads; ++k) {
      std::thread(traceBusily, tracer, name + "t" + std::to_string(k) + " ", k).detach();
    }
    Sleep(static_cast<DWORD>(count));
    printFinished();
  } else {
    for (int i = 0; i < count; ++i) tracer->StartSpan(name + "exit span " + std::to_string(i));
  }
  if (mode == "global") {
    opentracing::Tracer::InitGlobal(tracer);
    return 0;
  }
  if (mode == "exit") std::exit(0);
  if (mode == "ucrt-exit") {
    using Exit = void(__cdecl*)(int);
    auto ucrtExit = reinterpret_cast<Exit>(reinterpret_cast<void*>(GetProcAddress(ucrt, "exit")));
    if (ucrtExit == nullptr) return 3;
    ucrtExit(0);
  }
  if (mode == "exitprocess") ExitProcess(0);
  // The local tracer is destroyed on the way out of main, which closes it (the busy threads
  // keep it alive until the process ends).
  return 0;
}
