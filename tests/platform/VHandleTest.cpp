#include "platform/VHandle.h"

#include <gtest/gtest.h>

#include <string>

#include "diagnostics/vexception.h"
#include "platform/VMutex.h"
#include "tests/support/nextHandle.h"

namespace {

TEST(VHandleDuplicate, NullAndTheProcessPseudoHandleGiveInvalidHandleValue) {
  const uintptr_t before = nextHandleValue();
  EXPECT_EQ(VHandle::duplicate(nullptr), INVALID_HANDLE_VALUE);
  // Duplicating the process pseudo-handle for real would return a new process handle.
  EXPECT_EQ(VHandle::duplicate(GetCurrentProcess()), INVALID_HANDLE_VALUE);
  EXPECT_EQ(nextHandleValue(), before);
}

TEST(VHandleDuplicate, TheThreadPseudoHandleGivesARealHandle) {
  const HANDLE copy = VHandle::duplicate(GetCurrentThread());
  ASSERT_NE(copy, GetCurrentThread());
  ASSERT_NE(copy, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetThreadId(copy), GetCurrentThreadId());
  EXPECT_TRUE(CloseHandle(copy));
}

TEST(VHandleDuplicate, AClosedHandleRaisesInvalidHandle) {
  const HANDLE closed = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  CloseHandle(closed);
  try {
    VHandle::duplicate(closed);
    ADD_FAILURE() << "a closed handle was duplicated";
  } catch (const VInvalidHandleException& e) {
    EXPECT_NE(e.message.find(L" at Unable to duplicate handle"), std::wstring::npos);
    ASSERT_EQ(e.sites.size(), 1u);
    EXPECT_EQ(e.sites[0].function, "VHandle::duplicate");
    EXPECT_EQ(e.sites[0].line, 16);
  }
}

// Successful and failing constructions, waits, releases and duplications, many times over, leave
// the process with the handles it had.
TEST(VHandleDuplicate, NoHandleOutlivesSyncObjectsOnAnyPath) {
  const std::wstring name = L"kestrin_sync_leak_" + std::to_wstring(GetCurrentProcessId());
  const std::wstring clash = name + L"_event";
  const HANDLE event = CreateEventW(nullptr, TRUE, FALSE, clash.c_str());
  ASSERT_NE(event, nullptr);
  const HANDLE closed = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  CloseHandle(closed);
  const uintptr_t before = nextHandleValue();
  int raised = 0;
  for (int i = 0; i < 200; ++i) {
    {
      VMutex named(true, name.c_str());
      VMutex opened(false, name.c_str());
      VMutex unnamed(false, nullptr);
      EXPECT_TRUE(opened.lock(0));
      opened.unlock();
      named.unlock();
      EXPECT_EQ(unnamed.waitForSingleObject(10), static_cast<uint32_t>(WAIT_OBJECT_0));
      unnamed.unlock();
      CloseHandle(VHandle::duplicate(GetCurrentThread()));
      CloseHandle(VHandle::duplicate(named.handle.get()));
      try {
        unnamed.unlock();
      } catch (const vosexception&) {
        ++raised;
      }
    }
    try {
      VMutex wrongKind(false, clash.c_str());
    } catch (const vosexception&) {
      ++raised;
    }
    try {
      VHandle::duplicate(closed);
    } catch (const vosexception&) {
      ++raised;
    }
  }
  EXPECT_EQ(raised, 600);
  EXPECT_EQ(nextHandleValue(), before);
  CloseHandle(event);
}

}  // namespace
