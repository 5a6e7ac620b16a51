#include "diagnostics/ExclusiveTask.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>

#include "diagnostics/vexception.h"
#include "platform/UniqueHandle.h"
#include "tests/support/nextHandle.h"

namespace {

// Test processes run side by side: names carry the process id.
std::wstring uniqueName(const wchar_t* what) { return L"kestrin_task_" + std::to_wstring(GetCurrentProcessId()) + what; }

// Takes a task of name on a thread of its own (the mutex is recursive for its owner) within
// timeout: 0 when acquired, else the code raised. An abandoning thread ends holding the task.
uint32_t takeElsewhere(const std::wstring& name, uint32_t timeout, bool abandon = false) {
  uint32_t code = 0;
  std::thread([&] {
    try {
      // An abandoned task is never destroyed: the mutex stays with an ended thread.
      std::unique_ptr<ExclusiveTask> task(new ExclusiveTask);
      task->Initialize(name.c_str(), timeout);
      if (abandon) task.release();
    } catch (const vosexception& e) {
      code = e.code;
    }
  }).join();
  return code;
}

}  // namespace

// A holder that ended without releasing lets the next in; while a task holds the mutex others time
// out, and once it is destroyed they get in. The handle kept here keeps the mutex in being.
TEST(ExclusiveTask, OthersGetInOnlyWhileNoTaskHoldsIt) {
  const std::wstring name = uniqueName(L"held");
  const UniqueKernelHandle kept(CreateMutexW(nullptr, FALSE, name.c_str()));
  ASSERT_EQ(takeElsewhere(name, INFINITE, true), 0u);
  {
    ExclusiveTask holder;
    holder.Initialize(name.c_str(), 5000);
    EXPECT_EQ(takeElsewhere(name, 0), static_cast<uint32_t>(WAIT_TIMEOUT)) << "taken over for real";
  }
  EXPECT_EQ(takeElsewhere(name, 0), 0u);
}

TEST(ExclusiveTask, ATimedOutWaitRaises258AndHoldsNothing) {
  const std::wstring name = uniqueName(L"timeout");
  ExclusiveTask holder;
  holder.Initialize(name.c_str(), INFINITE);
  std::thread([&name] {
    const uintptr_t before = nextHandleValue();
    try {
      ExclusiveTask late;
      late.Initialize(name.c_str(), 200);
      ADD_FAILURE() << "a timed-out wait returned";
    } catch (const vosexception& e) {
      EXPECT_TRUE(typeid(e) == typeid(vosexception)) << typeid(e).name();
      EXPECT_NE(e.message.find(L" at WaitForSingleObject failed for mutex " + name), std::wstring::npos);
      EXPECT_EQ(e.sites.at(0).function, "ExclusiveTask::Initialize");
    }
    EXPECT_EQ(nextHandleValue(), before) << "the timed-out task kept its mutex";
  }).join();

  // A second Initialize gives the first mutex back rather than keep it owned with no handle.
  const UniqueKernelHandle kept(OpenMutexW(SYNCHRONIZE, FALSE, name.c_str()));
  holder.Initialize(uniqueName(L"other").c_str(), INFINITE);
  EXPECT_EQ(takeElsewhere(name, 0), 0u);
}
