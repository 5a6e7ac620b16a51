// Reports spans and ends its process with them still queued, as a host may: returning from
// main, calling exit, with the tracer installed as the global tracer, calling exit of the
// universal C run-time as a host built with Visual C++ does, or calling ExitProcess. "log"
// returns from main with span logging on.
// Usage: jaeger_exit_host <agent host:port> <spans> return|exit|global|ucrt-exit|exitprocess|log

#include <windows.h>

#include <cstdlib>
#include <string>

#include <opentracing/tracer.h>

#include "jaegertracing/Tracer.h"

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  const std::string mode = argv[3];
  // A Visual C++ host has the universal run-time loaded before it makes a tracer.
  HMODULE ucrt = mode == "ucrt-exit" ? LoadLibraryW(L"ucrtbase.dll") : nullptr;
  if (mode == "ucrt-exit" && ucrt == nullptr) return 3;
  // The process ends right after the burst, with spans still queued or in flight.
  auto tracer = jaegertracing::Tracer::make(
      "exit." + mode, jaegertracing::Config(false, jaegertracing::samplers::Config("const", 1),
                                            jaegertracing::reporters::Config(1000, std::chrono::minutes(10),
                                                                             mode == "log", argv[1])));
  const int spans = std::atoi(argv[2]);
  for (int i = 0; i < spans; ++i) tracer->StartSpan("exit span " + std::to_string(i));
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
  // The local tracer is destroyed on the way out of main, which closes it.
  return 0;
}
