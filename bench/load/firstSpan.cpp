// The traced host of bench_load: traces one scope and prints the performance counter at the moment
// that span has ended, so that the starter can tell how long the first span took from its start.
#include <windows.h>

#include <cstdio>

#include "driver/OpenTracingDriver.h"

int main() {
  OpenTracingDriver::StartSpan("firstSpan", __LINE__, "");
  LARGE_INTEGER ended;
  QueryPerformanceCounter(&ended);
  std::printf("%lld %d\n", ended.QuadPart, OpenTracingDriver::IsEnabled() ? 1 : 0);
  return 0;
}
