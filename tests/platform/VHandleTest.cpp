#include "platform/VHandle.h"

#include <gtest/gtest.h>

#include "platform/VMutex.h"
#include "tests/platform/raised.h"
#include "tests/support/nextHandle.h"

namespace {

// Far above any handle the process holds.
const HANDLE kNever = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x7FFFFFF0));

TEST(VHandle, PseudoHandlesAndAClosingThatKeepsTheLastError) {
  const uintptr_t before = nextHandleValue(16);
  EXPECT_EQ(VHandle::duplicate(nullptr).get(), INVALID_HANDLE_VALUE);
  // Duplicated for real, the process pseudo-handle would give a new process handle.
  EXPECT_EQ(VHandle::duplicate(GetCurrentProcess()).get(), INVALID_HANDLE_VALUE);
  EXPECT_EQ(nextHandleValue(16), before);
  const HANDLE thread = VHandle::duplicate(GetCurrentThread()).release();
  EXPECT_NE(thread, GetCurrentThread());
  EXPECT_EQ(GetThreadId(thread), GetCurrentThreadId());
  EXPECT_TRUE(CloseHandle(thread)) << "the owner handed over a handle it had not closed";

  // Closing between a failed call and the read of its error must not hide the cause.
  UniqueKernelHandle stale(kNever);
  SetLastError(ERROR_ACCESS_DENIED);
  stale.reset();
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST(VHandle, NoHandleOutlivesSyncObjectsOnAnyPath) {
  const std::wstring name = L"kestrin_sync_leak_" + std::to_wstring(GetCurrentProcessId());
  const HANDLE clash = CreateEventW(nullptr, TRUE, FALSE, (name + L"_event").c_str());
  uintptr_t before = 0;
  for (int i = 0; i < 2; ++i) {
    // The first round's failures open what the system then keeps for the rest of the process.
    if (i == 1) before = nextHandleValue(16);
    {
      VMutex named(true, name.c_str());
      VMutex unnamed(false, nullptr);
      EXPECT_TRUE(VMutex(false, name.c_str()).lock(0));
      EXPECT_EQ(unnamed.waitForSingleObject(10), static_cast<uint32_t>(WAIT_OBJECT_0));
      EXPECT_TRUE(VHandle::duplicate(named.handle.get()));
    }
    // Failing paths run with the loop's handles closed, so a handle they leak moves nextHandleValue.
    const auto never = raised<VInvalidHandleException>([&] { VHandle::duplicate(kNever); });
    const auto wrongKind = raised<VInvalidHandleException>([&] { VMutex(false, (name + L"_event").c_str()); });
    EXPECT_NE(wrongKind.message.find(L" at Create mutex with name '" + name + L"_event'"), std::wstring::npos);
    EXPECT_EQ(site(never) + " " + site(wrongKind), "VHandle::duplicate:16 VMutex::VMutex:194");
  }
  EXPECT_EQ(nextHandleValue(16), before);
  CloseHandle(clash);
}

}  // namespace
