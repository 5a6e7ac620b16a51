// Mutexes, handles and scoped locks against real kernel objects.
#include "platform/VMutex.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/ScopedLock.h"
#include "platform/VHandle.h"
#include "tests/platform/raised.h"
#include "tests/support/nextHandle.h"

// Test processes run side by side: names carry the process id.
const std::wstring kName = L"kestrin_sync_" + std::to_wstring(GetCurrentProcessId());
// Far above any handle the process holds.
const HANDLE kNever = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x7FFFFFF0));

// Whether a thread other than the caller can take the mutex right now (and gives it back).
static bool freeForAnotherThread(const VMutex& mutex) {
  bool free = false;
  std::thread([&] {
    free = WaitForSingleObject(mutex.handle.get(), 0) == WAIT_OBJECT_0;
    if (free) ReleaseMutex(mutex.handle.get());
  }).join();
  return free;
}

TEST(VMutex, OnlyTheOwnerHoldsItAndAnAbandonedOneIsAcquired) {
  VMutex mutex(false, nullptr);
  ASSERT_TRUE(mutex.lock(INFINITE));
  EXPECT_TRUE(freeForAnotherThread(VMutex(false, nullptr))) << "unnamed mutexes are distinct";
  std::thread([&] {
    EXPECT_FALSE(mutex.lock(0));
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

TEST(VMutex, AScopedLockHoldsItToTheEndOfItsScopeAndNeverRaisesThere) {
  VMutex mutex(false, (kName + L"scoped").c_str());
  {
    const ScopedLock<VMutex> hold(&mutex);
    EXPECT_FALSE(freeForAnotherThread(mutex));
  }
  EXPECT_TRUE(freeForAnotherThread(mutex));
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

TEST(VHandle, ANameOpensTheMutexThereNoPathLeavesAHandleAndAClosingKeepsTheLastError) {
  const std::wstring name = kName + L"_leak";
  const UniqueKernelHandle clash(CreateEventW(nullptr, TRUE, FALSE, (name + L"_event").c_str()));
  uintptr_t before = 0;
  for (int i = 0; i < 2; ++i) {
    // The first round's failures open what the system then keeps for the rest of the process.
    if (i == 1) before = nextHandleValue(16);
    {
      VMutex named(true, name.c_str());
      EXPECT_TRUE(VMutex(false, nullptr).lock(0));
      EXPECT_FALSE(freeForAnotherThread(VMutex(false, name.c_str()))) << "not the creator's mutex";
      EXPECT_TRUE(VHandle::duplicate(named.handle.get()));
    }
    EXPECT_EQ(VHandle::duplicate(nullptr).get(), INVALID_HANDLE_VALUE);
    // Duplicated for real, the process pseudo-handle would give a new process handle.
    EXPECT_EQ(VHandle::duplicate(GetCurrentProcess()).get(), INVALID_HANDLE_VALUE);
    const auto never = raised<VInvalidHandleException>([&] { VHandle::duplicate(kNever); });
    const auto wrongKind = raised<VInvalidHandleException>([&] { VMutex(false, (name + L"_event").c_str()); });
    EXPECT_NE(wrongKind.message.find(L" at Create mutex with name '" + name + L"_event'"), std::wstring::npos);
    EXPECT_EQ(site(never) + " " + site(wrongKind), "VHandle::duplicate:16 VMutex::VMutex:194");
  }
  EXPECT_EQ(nextHandleValue(16), before);
  EXPECT_TRUE(CloseHandle(VHandle::duplicate(GetCurrentThread()).release())) << "release() closed it";

  // Closing between a failed call and the read of its error must not hide the cause.
  UniqueKernelHandle stale(kNever);
  SetLastError(ERROR_ACCESS_DENIED);
  stale.reset();
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}
