#pragma once
// What a host that ended while four threads traced left at the agent decoder. The host prints
// "finished <k> <count>" for each thread k before its exit call; thread k's spans are "<prefix>t<k> <i>".

#include <algorithm>
#include <string>
#include <thread>

#include "tests/support/AgentListener.h"

namespace testsupport {

constexpr int kBusyExitThreads = 4;

struct BusyExitCount {
  int64_t finished = 0;    // spans the threads had finished before the exit call
  int64_t missing = 0;     // of those, how many never arrived
  int threadsCounted = 0;  // threads whose count the host printed
};

inline BusyExitCount countBusyExit(const std::string& hostOutput, const AgentSummary& summary,
                                   const std::string& prefix) {
  BusyExitCount count;
  for (int k = 0; k < kBusyExitThreads; ++k) {
    const std::string label = "finished " + std::to_string(k) + " ";
    const size_t at = hostOutput.find(label);
    if (at == std::string::npos) continue;
    const int64_t finished = std::stoll(hostOutput.substr(at + label.size()));
    ++count.threadsCounted;
    count.finished += finished;
    count.missing += summary.missingBelow(prefix + "t" + std::to_string(k), finished);
  }
  return count;
}

// What ExitProcess may lose: a datagram (65000 bytes, spans of 80 up) a killed sender, one a CPU up to 4.
inline int64_t mostSpansInFlightAtExit() {
  return std::clamp<int64_t>(std::thread::hardware_concurrency(), 1, 4) * (65000 / 80);
}

}  // namespace testsupport
