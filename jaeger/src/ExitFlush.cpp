#include "jaeger/src/ExitFlush.h"

#include <stdlib.h>

#include <atomic>
#include <cstdio>
#include <mutex>
#include <set>
#include <vector>

#include <windows.h>

#include "jaeger/src/ReporterLane.h"

namespace jaegertracing {

namespace {

using Clock = std::chrono::steady_clock;

struct LanesAtExit {
  ExitBoundedLock lock;  // guards lanes
  std::set<std::weak_ptr<ReporterLane>, std::owner_less<std::weak_ptr<ReporterLane>>> lanes;
  // The exit handlers share one budget, counted from the first to ask: 0 until then.
  std::atomic<Clock::rep> deadline{0};
};

// Made when the library loads and never destroyed: the flush at process end finds it without
// allocating, while the library's statics are being torn down.
LanesAtExit& lanesAtExit = *new LanesAtExit;

Clock::time_point exitDeadline() noexcept {
  Clock::rep expected = 0;
  const Clock::rep mine = (Clock::now() + kExitBudget).time_since_epoch().count();
  lanesAtExit.deadline.compare_exchange_strong(expected, mine);
  return Clock::time_point(Clock::duration(lanesAtExit.deadline.load()));
}

std::vector<std::shared_ptr<ReporterLane>> lanesNow() {
  std::vector<std::shared_ptr<ReporterLane>> lanes;
  ExitBoundedLock::Guard guard(lanesAtExit.lock);
  if (!guard) return lanes;
  for (const auto& weak : lanesAtExit.lanes) {
    if (auto lane = weak.lock()) lanes.push_back(lane);
  }
  return lanes;
}

// Straight to the handle: at exit the run-time's stream lock may belong to a killed thread.
void logAtExit(uint64_t sent, uint64_t lost) noexcept {
  char line[96];
  const int size = std::snprintf(line, sizeof line, "jaegertracing: at exit %llu spans sent, %llu lost\n",
                                 static_cast<unsigned long long>(sent), static_cast<unsigned long long>(lost));
  DWORD written = 0;
  if (size > 0) WriteFile(GetStdHandle(STD_ERROR_HANDLE), line, static_cast<DWORD>(size), &written, nullptr);
}

}  // namespace

void flushedAtExit(const std::shared_ptr<ReporterLane>& lane) {
  ExitBoundedLock::Guard guard(lanesAtExit.lock);
  lanesAtExit.lanes.insert(lane);
}

void notFlushedAtExit(const std::shared_ptr<ReporterLane>& lane) noexcept {
  ExitBoundedLock::Guard guard(lanesAtExit.lock);
  if (guard) lanesAtExit.lanes.erase(lane);
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
    for (const auto& lane : lanesNow()) lane->sendAllBefore(deadline);
  } catch (...) {
  }
}

void flushAllAtProcessEnd() noexcept {
  markProcessEnding();
  ExitBoundedLock::Guard guard(lanesAtExit.lock);
  if (!guard) return;
  for (const auto& weak : lanesAtExit.lanes) {
    if (auto lane = weak.lock()) lane->flushAtProcessEnd();
  }
}

bool ReporterLane::sendAllBefore(Clock::time_point deadline) noexcept {
  uint64_t target;
  {
    ExitBoundedLock::Guard guard(lock);
    if (lifecycle.phase() != Phase::Running) return true;
    flushRequested = true;
    target = taken;
    WakeConditionVariable(&workToDo);
  }
  // The last datagram sent is settled only by the next one, or at close: it counts as gone.
  while (taken - pending() + unconfirmed < target) {
    if (Clock::now() >= deadline) return false;
    Sleep(1);
  }
  return true;
}

void ReporterLane::flushAtProcessEnd() noexcept {
  // A lock not had within its bound belongs to a killed thread. The datagrams and the phase are
  // readable whatever it was doing, and this thread is the only one left: it goes on without it.
  ExitBoundedLock::Guard guard(lock);
  if (lifecycle.phase() == Phase::Done) return;
  const uint64_t reportedBefore = counted(&Counts::reported);
  if (lifecycle.phase() != Phase::ProcessEnding) enter(Phase::ProcessEnding);
  // A sender killed in the middle of a send keeps its datagram, which is not sent again, and its
  // socket, which it may leave stalling every later send.
  ExitBoundedLock::Guard sending(sendLock);
  sender->sendWithoutBlocking();
  datagrams.sealAfterKill();
  // Every waiting datagram gets its one send, however much of the budget the exit handler's wait
  // took: none of them waits, and a busy machine that kept the background threads from sending
  // would otherwise lose what they left.
  while (datagrams.waiting() > 0) {
    transmit(datagrams.takeOldest());
    datagrams.releaseInFlight();
  }
  settleLast();
  enter(Phase::Done);
  const uint64_t lost = pending();
  add(&Counts::lostAtExit, lost);
  if (options.logSpans) logAtExit(counted(&Counts::reported) - reportedBefore, lost);
}

}  // namespace jaegertracing
