#include "platform/VMutex.h"

#include <aclapi.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>

#include "diagnostics/vexception.h"
#include "platform/ScopedLock.h"
#include "platform/VHandle.h"

namespace {

using Clock = std::chrono::steady_clock;

// Test processes run side by side: names carry the process id.
std::wstring uniqueName(const wchar_t* what) { return L"kestrin_sync_" + std::to_wstring(GetCurrentProcessId()) + what; }

long long millisecondsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Another thread takes the mutex and holds it until this object goes, or ends at once owning it.
struct OtherOwner {
  OtherOwner(VSyncObject& mutex, bool abandon) : thread([this, &mutex, abandon] {
    mutex.lock(INFINITE);
    taken = true;
    while (!abandon && !released) Sleep(1);
    if (!abandon) mutex.unlock();
  }) {
    while (!taken) Sleep(1);
  }
  ~OtherOwner() {
    released = true;
    thread.join();
  }
  std::atomic<bool> taken{false}, released{false};
  std::thread thread;
};

TEST(VMutex, AMutexAnotherThreadOwnsIsNeitherLockedNorUnlockedHere) {
  VMutex mutex(false, nullptr);
  OtherOwner owner(mutex, false);
  const Clock::time_point start = Clock::now();
  EXPECT_FALSE(mutex.lock(0));
  EXPECT_LT(millisecondsSince(start), 500);  // a zero time-out waits not at all; room for a loaded machine
  try {
    mutex.unlock();
    ADD_FAILURE() << "unlock by a non-owner returned";
  } catch (const vosexception& e) {
    EXPECT_EQ(e.code, static_cast<uint32_t>(ERROR_NOT_OWNER));
    EXPECT_TRUE(typeid(e) == typeid(vosexception)) << typeid(e).name();
    EXPECT_NE(e.message.find(L" at ReleaseMutex"), std::wstring::npos);
    EXPECT_EQ(e.sites.at(0).function + ":" + std::to_string(e.sites[0].line), "VMutex::unlock:234");
  }
}

TEST(VMutex, AMutexWhoseOwnerEndedWithoutReleaseIsAcquired) {
  VMutex mutex(false, uniqueName(L"abandoned").c_str());
  { OtherOwner owner(mutex, true); }
  EXPECT_TRUE(mutex.lock(1000));
  mutex.unlock();
  { OtherOwner owner(mutex, true); }
  EXPECT_EQ(mutex.waitForSingleObject(1000), static_cast<uint32_t>(WAIT_ABANDONED));
  EXPECT_TRUE(mutex.unlock());
}

std::atomic<int> apcRuns{0};

TEST(VMutex, AProcedureCallDoesNotRestartTheTimeOut) {
  VMutex mutex(false, nullptr);
  OtherOwner owner(mutex, false);
  const auto thread = VHandle::duplicate(GetCurrentThread());
  std::thread interrupter([self = thread.get()] {
    Sleep(300);
    QueueUserAPC([](ULONG_PTR) { ++apcRuns; }, self, 0);
  });
  const Clock::time_point start = Clock::now();
  EXPECT_FALSE(mutex.lock(1000));
  const long long elapsed = millisecondsSince(start);
  interrupter.join();
  EXPECT_EQ(apcRuns, 1);
  // Restarting the time-out after the call ends at 1300 ms or later. The band allows for a loaded
  // 2-core machine waking the thread late (tens of ms) and a timer firing a little early.
  EXPECT_GE(elapsed, 950);
  EXPECT_LT(elapsed, 1250);
}

TEST(VMutex, UnnamedMutexesAreDistinctANameOpensTheOneThereAndEveryoneMayUseIt) {
  VMutex first(false, nullptr);
  VMutex second(false, nullptr);
  {
    OtherOwner owner(first, false);
    EXPECT_TRUE(second.lock(0));
    second.unlock();
  }
  const std::wstring name = uniqueName(L"shared");
  VMutex creator(true, name.c_str());
  std::thread([&name] { EXPECT_FALSE(VMutex(false, name.c_str()).lock(0)) << "not the creator's mutex"; }).join();

  // The descriptor as the kernel keeps it: one entry, Everyone allowed all (GENERIC_ALL or what
  // it maps to for a mutex).
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_EQ(GetSecurityInfo(creator.handle.get(), SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                            nullptr, &descriptor),
            static_cast<DWORD>(ERROR_SUCCESS));
  ASSERT_NE(dacl, nullptr);
  ACCESS_ALLOWED_ACE* ace = nullptr;
  EXPECT_EQ(dacl->AceCount, 1);
  ASSERT_TRUE(GetAce(dacl, 0, reinterpret_cast<void**>(&ace)));
  BYTE everyone[SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof everyone;
  ASSERT_TRUE(CreateWellKnownSid(WinWorldSid, nullptr, everyone, &size));
  EXPECT_EQ(ace->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
  EXPECT_TRUE(EqualSid(&ace->SidStart, everyone));
  EXPECT_TRUE(ace->Mask == GENERIC_ALL || ace->Mask == MUTANT_ALL_ACCESS) << std::hex << ace->Mask;
  LocalFree(descriptor);
}

}  // namespace

// Whether a thread other than the caller can take the mutex right now (and gives it back).
bool freeForAnotherThread(VMutex& mutex) {
  bool free = false;
  std::thread([&] {
    free = WaitForSingleObject(mutex.handle.get(), 0) == WAIT_OBJECT_0;
    if (free) ReleaseMutex(mutex.handle.get());
  }).join();
  return free;
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
  // A wait that fails raises from the constructor, and the scope holds nothing.
  VMutex closed(false, nullptr);
  closed.handle.reset();
  EXPECT_THROW(ScopedLock<VMutex>{&closed}, vexception);
}
