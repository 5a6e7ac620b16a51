// bench_driver: nanoseconds per OpenTracingDriver::StartSpan with the span's destruction, with
// tracing on and off, and per getExecuteContext once the context exists. The enabled figure
// needs the machine's switch on ("opentracing_enabled" = 1, REG_DWORD, 32-bit view) and the
// provider beside the executable; tracing is switched off for the disabled figure.
#include <windows.h>

#include <cstdio>

#include "diagnostics/ExecuteContext.h"
#include "driver/OpenTracingDriver.h"

namespace {

double now() {
  static const double frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return static_cast<double>(f.QuadPart);
  }();
  LARGE_INTEGER counter;
  QueryPerformanceCounter(&counter);
  return static_cast<double>(counter.QuadPart) / frequency;
}

template <class Fn>
double nanosecondsPerCall(long count, Fn fn) {
  const double start = now();
  for (long i = 0; i < count; ++i) fn();
  return (now() - start) * 1e9 / static_cast<double>(count);
}

void span() { OpenTracingDriver::StartSpan("driverBench", __LINE__, ""); }

}  // namespace

int main() {
  ExecuteContext* volatile sink = getExecuteContext();
  std::printf("getExecuteContext after the first call: %.1f ns\n",
              nanosecondsPerCall(20000000, [&] { sink = getExecuteContext(); }));

  const bool switchedOn = OpenTracingDriver::IsEnabled();
  span();  // loads the provider and creates the tracer outside the measurement
  if (OpenTracingDriver::IsEnabled()) {
    std::printf("StartSpan + destruction, tracing on: %.1f ns\n", nanosecondsPerCall(200000, span));
  } else {
    std::printf("StartSpan + destruction, tracing on: not measured (%s)\n",
                switchedOn ? "the provider failed to load" : "the switch is off");
  }
  OpenTracingDriver::Disable();
  std::printf("StartSpan + destruction, tracing off: %.1f ns\n", nanosecondsPerCall(10000000, span));
  return 0;
}
