#include "platform/VMutex.h"

#include <windows.h>

#include <aclapi.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "diagnostics/vexception.h"
#include "platform/VHandle.h"

namespace {

using Clock = std::chrono::steady_clock;

// Test processes run side by side: every name carries the process id.
std::wstring uniqueName(const wchar_t* what) {
  return L"kestrin_sync_test_" + std::to_wstring(GetCurrentProcessId()) + L"_" + what;
}

long long millisecondsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Another thread takes the mutex and holds it until release() (or its end, when abandon is set).
class OtherOwner {
 public:
  OtherOwner(VSyncObject& mutex, bool abandon) : thread([this, &mutex, abandon] {
    mutex.lock(INFINITE);
    taken = true;
    if (abandon) return;
    while (!released) Sleep(1);
    mutex.unlock();
  }) {
    while (!taken) Sleep(1);
  }
  ~OtherOwner() {
    released = true;
    thread.join();
  }

  std::atomic<bool> taken{false};
  std::atomic<bool> released{false};
  std::thread thread;
};

// What the mutex's own handle reports as its DACL.
struct MutexDacl {
  explicit MutexDacl(HANDLE handle) {
    result = GetSecurityInfo(handle, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr,
                             &descriptor);
  }
  ~MutexDacl() { LocalFree(descriptor); }

  DWORD result;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
};

TEST(VMutexWait, LockOfZeroOnAMutexAnotherThreadOwnsFailsAtOnce) {
  VMutex mutex(false, nullptr);
  OtherOwner owner(mutex, false);
  const Clock::time_point start = Clock::now();
  EXPECT_FALSE(mutex.lock(0));
  // A zero time-out must not wait at all; 500 ms leaves room for a loaded machine.
  EXPECT_LT(millisecondsSince(start), 500);
  EXPECT_EQ(mutex.waitForSingleObject(0), static_cast<uint32_t>(WAIT_TIMEOUT));
}

TEST(VMutexWait, AMutexWhoseOwnerEndedWithoutReleaseIsAcquired) {
  VMutex mutex(false, uniqueName(L"abandoned").c_str());
  { OtherOwner owner(mutex, true); }
  EXPECT_TRUE(mutex.lock(1000));
  mutex.unlock();
  { OtherOwner owner(mutex, true); }
  EXPECT_EQ(mutex.waitForSingleObject(1000), static_cast<uint32_t>(WAIT_ABANDONED));
  EXPECT_TRUE(mutex.unlock());
}

std::atomic<int> apcRuns{0};
void CALLBACK countApc(ULONG_PTR) { ++apcRuns; }

TEST(VMutexWait, AProcedureCallDoesNotRestartTheTimeOut) {
  VMutex mutex(false, nullptr);
  OtherOwner owner(mutex, false);
  const HANDLE self = VHandle::duplicate(GetCurrentThread());
  apcRuns = 0;
  std::thread interrupter([self] {
    Sleep(300);
    QueueUserAPC(countApc, self, 0);
  });
  const Clock::time_point start = Clock::now();
  const bool locked = mutex.lock(1000);
  const long long elapsed = millisecondsSince(start);
  interrupter.join();
  CloseHandle(self);
  EXPECT_FALSE(locked);
  EXPECT_EQ(apcRuns, 1);
  // Restarting the time-out after the call would end at 1300 ms or later. The band allows for a
  // loaded 2-core machine waking the thread late (tens of ms) and a timer firing a little early.
  EXPECT_GE(elapsed, 950);
  EXPECT_LT(elapsed, 1250);
}

TEST(VMutexUnlock, ANonOwnerRaisesNotOwnerAsAPlainOsException) {
  VMutex mutex(false, nullptr);
  for (bool ownedElsewhere : {false, true}) {
    OtherOwner* owner = ownedElsewhere ? new OtherOwner(mutex, false) : nullptr;
    try {
      mutex.unlock();
      ADD_FAILURE() << "unlock by a non-owner returned";
    } catch (const vosexception& e) {
      EXPECT_EQ(e.code, static_cast<uint32_t>(ERROR_NOT_OWNER));
      EXPECT_TRUE(typeid(e) == typeid(vosexception)) << typeid(e).name();
      EXPECT_NE(e.message.find(L" at ReleaseMutex"), std::wstring::npos);
      ASSERT_EQ(e.sites.size(), 1u);
      EXPECT_EQ(e.sites[0].function, "VMutex::unlock");
      EXPECT_EQ(e.sites[0].line, 234);
    }
    delete owner;
  }
}

TEST(VMutexCreate, UnnamedMutexesAreDistinctAndANameOpensTheExistingMutex) {
  VMutex first(false, nullptr);
  VMutex second(false, nullptr);
  ASSERT_TRUE(first.handle);
  {
    OtherOwner owner(first, false);
    EXPECT_TRUE(second.lock(0));
    second.unlock();
  }

  const std::wstring name = uniqueName(L"shared");
  VMutex creator(true, name.c_str());
  std::thread([&name] {
    VMutex opened(false, name.c_str());
    EXPECT_FALSE(opened.lock(0)) << "a second mutex of the name is not the one the creator owns";
  }).join();
  creator.unlock();
  std::thread([&name] {
    VMutex opened(false, name.c_str());
    EXPECT_TRUE(opened.lock(0));
    opened.unlock();
  }).join();
}

TEST(VMutexCreate, ANamedMutexGrantsEveryoneAllAccessAndNothingElse) {
  VMutex mutex(false, uniqueName(L"descriptor").c_str());
  MutexDacl read(mutex.handle.get());
  ASSERT_EQ(read.result, static_cast<DWORD>(ERROR_SUCCESS));
  ASSERT_NE(read.dacl, nullptr);
  ASSERT_EQ(read.dacl->AceCount, 1);
  ACCESS_ALLOWED_ACE* ace = nullptr;
  ASSERT_TRUE(GetAce(read.dacl, 0, reinterpret_cast<void**>(&ace)));
  EXPECT_EQ(ace->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
  BYTE everyone[SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof everyone;
  ASSERT_TRUE(CreateWellKnownSid(WinWorldSid, nullptr, everyone, &size));
  EXPECT_TRUE(EqualSid(&ace->SidStart, everyone));
  // The kernel may keep GENERIC_ALL or store what it maps to for a mutex.
  EXPECT_TRUE(ace->Mask == GENERIC_ALL || ace->Mask == MUTANT_ALL_ACCESS) << std::hex << ace->Mask;
}

TEST(VMutexCreate, ANameHeldByAnotherKindOfObjectRaisesWithTheName) {
  const std::wstring name = uniqueName(L"event");
  const HANDLE event = CreateEventW(nullptr, TRUE, FALSE, name.c_str());
  ASSERT_NE(event, nullptr);
  try {
    VMutex mutex(false, name.c_str());
    ADD_FAILURE() << "a mutex was made over an event's name";
  } catch (const vosexception& e) {
    EXPECT_EQ(e.code, static_cast<uint32_t>(ERROR_INVALID_HANDLE));
    EXPECT_TRUE(typeid(e) == typeid(VInvalidHandleException)) << typeid(e).name();
    EXPECT_NE(e.message.find(L" at Create mutex with name '" + name + L"'"), std::wstring::npos) << e.message;
    ASSERT_EQ(e.sites.size(), 1u);
    EXPECT_EQ(e.sites[0].function, "VMutex::VMutex");
    EXPECT_EQ(e.sites[0].line, 194);
  }
  CloseHandle(event);
}

}  // namespace
