#include "diagnostics/ExclusiveTask.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "diagnostics/vexception.h"
#include "tests/support/nextHandle.h"

// On a thread of its own, as the mutex is recursive: 0 when acquired, else the code raised.
static uint32_t takeElsewhere(const std::wstring& name, uint32_t timeout, bool abandon = false) {
  uint32_t code = 0;
  std::thread([&] {
    const uintptr_t before = nextHandleValue();
    try {
      std::unique_ptr<ExclusiveTask> task(new ExclusiveTask);
      task->Initialize(name.c_str(), timeout);
      if (abandon) task.release();
    } catch (const vosexception& e) {
      code = e.code;
      EXPECT_TRUE(typeid(e) == typeid(vosexception)) << typeid(e).name();
      EXPECT_NE(e.message.find(L" at WaitForSingleObject failed for mutex " + name), std::wstring::npos);
      EXPECT_EQ(e.sites.at(0).function, "ExclusiveTask::Initialize");
      EXPECT_EQ(nextHandleValue(), before) << "a failed task kept its mutex";
    }
  }).join();
  return code;
}


TEST(ExclusiveTask, OthersGetInOnlyWhileNoTaskHoldsIt) {
  const std::wstring name = L"kestrin_task_" + std::to_wstring(GetCurrentProcessId());  // tests run side by side
  const UniqueKernelHandle kept(CreateMutexW(nullptr, FALSE, name.c_str()));  // the mutex outlives each task
  ASSERT_EQ(takeElsewhere(name, INFINITE, true), 0u);
  {
    ExclusiveTask holder;
    holder.Initialize(name.c_str(), 5000);
    EXPECT_EQ(takeElsewhere(name, 200), static_cast<uint32_t>(WAIT_TIMEOUT));
  }
  EXPECT_EQ(takeElsewhere(name, 0), 0u);
  ExclusiveTask holder;
  holder.Initialize(name.c_str(), INFINITE);
  holder.Initialize((name + L"_other").c_str(), INFINITE);
  EXPECT_EQ(takeElsewhere(name, 0), 0u);
}
