#include "jaeger/src/ExitFlush.h"

#include <stdlib.h>

#include <atomic>
#include <mutex>
#include <set>
#include <vector>

#include <windows.h>

#include "jaeger/src/ReporterState.h"

namespace jaegertracing {

namespace {

using Clock = std::chrono::steady_clock;

// Never destroyed: used while the library's statics are being torn down.
struct LiveReporters {
  ExitBoundedLock lock;
  std::set<std::weak_ptr<Reporter::State>, std::owner_less<std::weak_ptr<Reporter::State>>> states;
};

// Made when the library loads: the flush at process end must find it without allocating.
LiveReporters* const reporters = new LiveReporters;

LiveReporters& liveReporters() { return *reporters; }

std::vector<std::shared_ptr<Reporter::State>> liveStates() {
  std::vector<std::shared_ptr<Reporter::State>> states;
  LiveReporters& live = liveReporters();
  ExitBoundedLock::Guard guard(live.lock);
  if (!guard) return states;
  for (const auto& weak : live.states) {
    if (auto state = weak.lock()) states.push_back(state);
  }
  return states;
}

// Both steps of the exit share one budget, counted from the first.
Clock::time_point exitDeadline() noexcept {
  static std::atomic<Clock::rep> deadline{0};
  Clock::rep expected = 0;
  const Clock::rep mine = (Clock::now() + kExitBudget).time_since_epoch().count();
  deadline.compare_exchange_strong(expected, mine);
  return Clock::time_point(Clock::duration(deadline.load()));
}

}  // namespace

void addLiveReporter(const std::shared_ptr<Reporter::State>& state) {
  LiveReporters& live = liveReporters();
  ExitBoundedLock::Guard guard(live.lock);
  live.states.insert(state);
}

void removeLiveReporter(const std::shared_ptr<Reporter::State>& state) noexcept {
  LiveReporters& live = liveReporters();
  ExitBoundedLock::Guard guard(live.lock);
  if (guard) live.states.erase(state);
}

// exit() runs the C run-time's exit handlers while every thread still runs. The handler is
// registered once with each run-time loaded when the first tracer is made: the one MinGW hosts
// use, and the universal one of Visual C++ hosts.
void sendAllBeforeExitOnExit() noexcept {
  static std::once_flag once;
  try {
    std::call_once(once, [] {
      using OnExit = _onexit_t(__cdecl*)(_onexit_t);
      using AtExit = int(__cdecl*)(void(__cdecl*)());
      if (HMODULE msvcrt = GetModuleHandleW(L"msvcrt.dll")) {
        if (auto onExit = reinterpret_cast<OnExit>(reinterpret_cast<void*>(GetProcAddress(msvcrt, "_onexit")))) {
          onExit([]() -> int {
            sendAllBeforeExit();
            return 0;
          });
        }
      }
      if (HMODULE ucrt = GetModuleHandleW(L"ucrtbase.dll")) {
        if (auto atExit = reinterpret_cast<AtExit>(reinterpret_cast<void*>(GetProcAddress(ucrt, "_crt_atexit")))) {
          atExit([] { sendAllBeforeExit(); });
        }
      }
    });
  } catch (...) {
  }
}

void sendAllBeforeExit() noexcept {
  // Run late by a run-time that exits from its detach, the background threads are gone and
  // waiting for them would only delay the flush at detach.
  if (processEnding()) return;
  try {
    const auto deadline = exitDeadline();
    for (const auto& state : liveStates()) state->sendAllBefore(deadline);
  } catch (...) {
  }
}

void flushAllAtProcessEnd() noexcept {
  markProcessEnding();
  // Allocates nothing: a thread killed inside the heap's lock would stall this thread on it.
  LiveReporters& live = liveReporters();
  ExitBoundedLock::Guard guard(live.lock);
  if (!guard) return;
  const auto deadline = exitDeadline();
  for (const auto& weak : live.states) {
    if (auto state = weak.lock()) state->flushAtProcessEnd(deadline);
  }
}

}  // namespace jaegertracing
