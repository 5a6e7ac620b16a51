// The Jaeger client's two locks, driven directly by threads. Every test here runs in a process of
// its own, which lets one of them mark its process as ending.
#include <windows.h>

#include <gtest/gtest.h>

#include <vector>

#include "jaeger/src/ReporterLifecycle.h"
#include "jaeger/src/SlimLock.h"

using namespace jaegertracing;

namespace {

// Runs body on a thread of its own; the thread is left to the process if it never ends.
template <class Body>
HANDLE startThread(Body* body) {
  return CreateThread(nullptr, 0, [](void* p) -> DWORD { return (*static_cast<Body*>(p))() ? 1 : 0; }, body, 0,
                      nullptr);
}

// Whether thread ended within 20 s (a lock that never lets a waiter in hangs it), with its result.
bool endsReturning(HANDLE thread, bool result) {
  const bool ended = WaitForSingleObject(thread, 20000) == WAIT_OBJECT_0;
  DWORD code = 0;
  GetExitCodeThread(thread, &code);
  CloseHandle(thread);
  return ended && (code != 0) == result;
}

}  // namespace

// Owners that sometimes sleep holding the lock send the others past their spin into the
// kernel's wait, so that every release may have a waiter to wake.
TEST(SlimLock, EveryWaiterIsWokenAndNoUpdateIsLostUnderContention) {
  static SlimLock lock;  // static: a waiter never woken outlives the test
  static volatile long long count = 0;
  constexpr int kThreads = 16, kRounds = 20000;
  auto work = [] {
    for (int round = 0; round < kRounds; ++round) {
      lock.lock();
      const long long seen = count;  // a read and a write far apart, which only the lock keeps whole
      for (int pause = 0; pause < 20; ++pause) YieldProcessor();
      count = seen + 1;
      if (round % 2000 == 0) Sleep(1);
      lock.unlock();
    }
    return true;
  };
  std::vector<HANDLE> threads;
  for (int i = 0; i < kThreads; ++i) threads.push_back(startThread(&work));
  for (HANDLE thread : threads) EXPECT_TRUE(endsReturning(thread, true)) << "a waiter was never woken";
  EXPECT_EQ(count, static_cast<long long>(kThreads) * kRounds);
}

TEST(ExitBoundedLock, WaitsWithoutBoundWhileTheProcessRunsAndBrieflyForAKilledOwnerOnceItEnds) {
  static ExitBoundedLock lock;
  HANDLE taken = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  auto hold = [&] {
    ExitBoundedLock::Guard guard(lock);
    SetEvent(taken);
    WaitForSingleObject(release, INFINITE);
    return static_cast<bool>(guard);
  };
  auto take = [&] { return static_cast<bool>(ExitBoundedLock::Guard(lock)); };

  HANDLE holder = startThread(&hold);
  WaitForSingleObject(taken, INFINITE);
  EXPECT_FALSE(lock.tryLock());
  HANDLE waiter = startThread(&take);
  // Far beyond the wait allowed at exit, the waiter still waits.
  EXPECT_EQ(WaitForSingleObject(waiter, 1000), WAIT_TIMEOUT);
  SetEvent(release);
  EXPECT_TRUE(endsReturning(holder, true));
  EXPECT_TRUE(endsReturning(waiter, true)) << "the waiter gave up while the process runs";

  // At exit ExitProcess kills every other thread, perhaps one holding the lock.
  markProcessEnding();
  ResetEvent(taken);
  ResetEvent(release);
  holder = startThread(&hold);
  WaitForSingleObject(taken, INFINITE);
  TerminateThread(holder, 0);
  WaitForSingleObject(holder, INFINITE);
  CloseHandle(holder);
  EXPECT_TRUE(endsReturning(startThread(&take), false)) << "a lock a killed thread holds was waited for";

  // The exiting thread keeps what it took: a release at exit would wake waiters nobody is left
  // to run, and another thread gets nothing.
  static ExitBoundedLock kept;
  auto takeKept = [&] { return static_cast<bool>(ExitBoundedLock::Guard(kept)); };
  EXPECT_TRUE(takeKept());
  EXPECT_TRUE(takeKept()) << "the exiting thread could not take again what it kept";
  EXPECT_TRUE(endsReturning(startThread(&takeKept), false));
  CloseHandle(taken);
  CloseHandle(release);
}
