#include "platform/VMutex.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/ScopedLock.h"
#include "platform/VHandle.h"
#include "tests/platform/raised.h"

namespace {

// Test processes run side by side: names carry the process id.
std::wstring uniqueName(const wchar_t* what) {
  return L"kestrin_sync_" + std::to_wstring(GetCurrentProcessId()) + what;
}

// Whether a thread other than the caller can take the mutex right now (and gives it back).
bool freeForAnotherThread(VMutex& mutex) {
  bool free = false;
  std::thread([&] {
    free = WaitForSingleObject(mutex.handle.get(), 0) == WAIT_OBJECT_0;
    if (free) ReleaseMutex(mutex.handle.get());
  }).join();
  return free;
}

TEST(VMutex, OnlyTheOwnerHoldsItAnAbandonedOneIsAcquiredAndANameOpensTheOneThere) {
  VMutex mutex(false, nullptr);
  VMutex unnamed(false, nullptr);
  ASSERT_TRUE(mutex.lock(INFINITE));
  std::thread([&] {
    EXPECT_FALSE(mutex.lock(0));
    EXPECT_TRUE(unnamed.lock(0)) << "unnamed mutexes are distinct";
    unnamed.unlock();
    const auto notOwner = raised<vosexception>([&] { mutex.unlock(); });
    EXPECT_EQ(notOwner.code, static_cast<uint32_t>(ERROR_NOT_OWNER));
    EXPECT_NE(notOwner.message.find(L" at ReleaseMutex"), std::wstring::npos);
    EXPECT_EQ(site(notOwner), "VMutex::unlock:234");
  }).join();
  mutex.unlock();
  // Threads that end owning it.
  std::thread([&] { mutex.lock(INFINITE); }).join();
  EXPECT_TRUE(mutex.lock(1000));
  mutex.unlock();
  std::thread([&] { mutex.lock(INFINITE); }).join();
  EXPECT_EQ(mutex.waitForSingleObject(1000), static_cast<uint32_t>(WAIT_ABANDONED));
  EXPECT_TRUE(mutex.unlock());

  VMutex creator(true, uniqueName(L"shared").c_str());
  VMutex opened(false, uniqueName(L"shared").c_str());
  EXPECT_FALSE(freeForAnotherThread(opened)) << "not the creator's mutex";
}

// A procedure call during the wait must shorten what is left of the time-out, not start it again.
TEST(VMutex, ProcedureCallsRunDuringTheWaitAndDoNotRestartTheTimeOut) {
  static std::atomic<int> runs{0};
  VMutex mutex(false, nullptr);
  const auto self = VHandle::duplicate(GetCurrentThread());
  std::atomic<bool> taken{false}, waiting{true};
  int queued = 0;
  std::thread owner([&] {
    mutex.lock(INFINITE);
    taken = true;
    for (; waiting && queued < 100; ++queued, Sleep(50)) QueueUserAPC([](ULONG_PTR) { ++runs; }, self.get(), 0);
    mutex.unlock();
  });
  while (!taken) Sleep(1);
  EXPECT_FALSE(mutex.lock(1000));
  waiting = false;
  owner.join();
  EXPECT_LT(queued, 100) << "the wait went on while calls came";
  EXPECT_GE(runs, 2) << "the wait ended at the first call or ran none";
}

TEST(VMutex, AScopedLockHoldsItToEveryWayOutAndNeverRaisesThere) {
  VMutex mutex(false, uniqueName(L"scoped").c_str());
  {
    const ScopedLock<VMutex> hold(&mutex);
    EXPECT_FALSE(freeForAnotherThread(mutex));
  }
  EXPECT_TRUE(freeForAnotherThread(mutex));
  try {
    const ScopedLock<VSyncObject> hold(&mutex);
    throw std::runtime_error("leaving");
  } catch (const std::runtime_error&) {
  }
  EXPECT_TRUE(freeForAnotherThread(mutex)) << "not released on the exception's way out";
  {
    // Released by hand inside the scope: the release at its end fails (not the owner) and says nothing.
    const ScopedLock<VMutex> hold(&mutex);
    mutex.unlock();
  }
  EXPECT_TRUE(freeForAnotherThread(mutex));
  VMutex closed(false, nullptr);
  closed.handle.reset();
  EXPECT_THROW(ScopedLock<VMutex>{&closed}, vexception) << "a failed wait raises from the constructor";
}

}  // namespace
