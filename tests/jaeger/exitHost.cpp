// Reports spans and ends its process with them still queued, as a host may: returning from
// main, calling exit, or with the tracer installed as the global tracer.
// Usage: jaeger_exit_host <agent host:port> <spans> return|exit|global

#include <cstdlib>
#include <string>

#include <opentracing/tracer.h>

#include "jaegertracing/Tracer.h"

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  const std::string mode = argv[3];
  // The process ends right after the burst, with spans still queued or in flight.
  auto tracer = jaegertracing::Tracer::make(
      "exit." + mode, jaegertracing::Config(false, jaegertracing::samplers::Config("const", 1),
                                            jaegertracing::reporters::Config(1000, std::chrono::minutes(10), false,
                                                                             argv[1])));
  const int spans = std::atoi(argv[2]);
  for (int i = 0; i < spans; ++i) tracer->StartSpan("exit span " + std::to_string(i));
  if (mode == "global") {
    opentracing::Tracer::InitGlobal(tracer);
    return 0;
  }
  if (mode == "exit") std::exit(0);
  // The local tracer is destroyed on the way out of main, which closes it.
  return 0;
}
