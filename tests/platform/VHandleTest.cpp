#include "platform/VHandle.h"

#include <gtest/gtest.h>

#include <string>

#include "diagnostics/vexception.h"
#include "platform/VMutex.h"
#include "tests/support/nextHandle.h"

namespace {

TEST(VHandle, PseudoHandles) {
  const uintptr_t before = nextHandleValue();
  EXPECT_EQ(VHandle::duplicate(nullptr).get(), INVALID_HANDLE_VALUE);
  // Duplicated for real, the process pseudo-handle would give a new process handle.
  EXPECT_EQ(VHandle::duplicate(GetCurrentProcess()).get(), INVALID_HANDLE_VALUE);
  EXPECT_EQ(nextHandleValue(), before);
  const HANDLE thread = VHandle::duplicate(GetCurrentThread()).release();
  EXPECT_NE(thread, GetCurrentThread());
  EXPECT_EQ(GetThreadId(thread), GetCurrentThreadId());
  EXPECT_TRUE(CloseHandle(thread)) << "the owner handed over a handle it had not closed";
}

// An owner that closes between a failed call and the read of its error must not hide the cause,
// even when the close itself fails.
TEST(VHandle, ClosingKeepsTheLastError) {
  UniqueKernelHandle stale(reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x7FFFFFF0)));
  SetLastError(ERROR_ACCESS_DENIED);
  stale.reset();
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_FALSE(CloseHandle(reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x7FFFFFF0))));
  EXPECT_NE(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED)) << "the close must have set an error of its own";
}

// Successful and failing constructions, waits, releases and duplications, many times over, leave
// the process with the handles it had.
TEST(VHandle, NoHandleOutlivesSyncObjectsOnAnyPath) {
  const std::wstring name = L"kestrin_sync_leak_" + std::to_wstring(GetCurrentProcessId());
  const HANDLE clash = CreateEventW(nullptr, TRUE, FALSE, (name + L"_event").c_str());
  // Far above any handle the process holds: a closed handle's slot would be handed out again.
  const HANDLE never = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x7FFFFFF0));
  const uintptr_t before = nextHandleValue();
  std::string sites;
  for (int i = 0; i < 200; ++i) {
    try {
      VMutex named(true, name.c_str());
      VMutex unnamed(false, nullptr);
      EXPECT_TRUE(VMutex(false, name.c_str()).lock(0));
      EXPECT_EQ(unnamed.waitForSingleObject(10), static_cast<uint32_t>(WAIT_OBJECT_0));
      EXPECT_TRUE(VHandle::duplicate(named.handle.get()));
      VHandle::duplicate(never);
    } catch (const VInvalidHandleException& e) {
      sites += e.sites.at(0).function + ":" + std::to_string(e.sites[0].line) + " ";
    }
    try {
      VMutex wrongKind(false, (name + L"_event").c_str());
    } catch (const VInvalidHandleException& e) {
      EXPECT_NE(e.message.find(L" at Create mutex with name '" + name + L"_event'"), std::wstring::npos) << e.message;
      sites += e.sites.at(0).function + ":" + std::to_string(e.sites[0].line) + " ";
    }
  }
  EXPECT_EQ(nextHandleValue(), before);
  std::string expected;
  for (int i = 0; i < 200; ++i) expected += "VHandle::duplicate:16 VMutex::VMutex:194 ";
  EXPECT_EQ(sites, expected);
  CloseHandle(clash);
}

}  // namespace
