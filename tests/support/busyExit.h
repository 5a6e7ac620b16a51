#pragma once
// Test support: what a host that ended while four threads traced left at the agent decoder. The
// host prints "finished <k> <count>" for each thread k before its exit call; thread k's spans
// are named "<prefix>t<k> <i>".

#include <cstdint>
#include <string>

#include "tests/support/AgentListener.h"

namespace testsupport {

constexpr int kBusyExitThreads = 4;

struct BusyExitCount {
  int64_t finished = 0;    // spans the threads had finished before the exit call
  int64_t missing = 0;     // of those, how many never arrived
  int threadsCounted = 0;  // threads whose count the host printed
};

BusyExitCount countBusyExit(const std::string& hostOutput, const AgentSummary& summary, const std::string& prefix);

// The most finished spans a host ended by ExitProcess may lose: a datagram (65000 bytes, spans of
// at least 80) in flight on each killed sender, one a processor up to four.
int64_t mostSpansInFlightAtExit();

}  // namespace testsupport
