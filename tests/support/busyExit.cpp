#include "tests/support/busyExit.h"

#include <windows.h>

#include <algorithm>
#include <cstdlib>

namespace testsupport {

BusyExitCount countBusyExit(const std::string& hostOutput, const AgentSummary& summary, const std::string& prefix) {
  BusyExitCount count;
  for (int k = 0; k < kBusyExitThreads; ++k) {
    const std::string label = "finished " + std::to_string(k) + " ";
    const size_t at = hostOutput.find(label);
    if (at == std::string::npos) continue;
    const int64_t finished = std::atoll(hostOutput.c_str() + at + label.size());
    ++count.threadsCounted;
    count.finished += finished;
    count.missing += summary.missingBelow(prefix + "t" + std::to_string(k), finished);
  }
  return count;
}

int64_t mostSpansInFlightAtExit() {
  SYSTEM_INFO system;
  GetSystemInfo(&system);
  return std::min<int64_t>(std::max<DWORD>(system.dwNumberOfProcessors, 1), 4) * (65000 / 80);
}

}  // namespace testsupport
