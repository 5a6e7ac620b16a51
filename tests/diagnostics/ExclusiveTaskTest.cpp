#include "diagnostics/ExclusiveTask.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "diagnostics/vexception.h"
#include "platform/UniqueHandle.h"
#include "platform/VFileName.h"
#include "platform/moduleName.h"
#include "tests/support/nextHandle.h"
#include "tests/support/runProcess.h"

namespace {

// Test processes run side by side: names carry the process id.
std::wstring uniqueName(const wchar_t* what) { return L"kestrin_task_" + std::to_wstring(GetCurrentProcessId()) + what; }

// The probe's one line for arguments, without the CR LF of its text-mode output.
std::string probe(const std::wstring& arguments) {
  static const std::wstring path =
      VFileName::combine(VFileName::directory(moduleName(nullptr)), L"exclusive_task_probe.exe");
  std::string line = runProcess(path, arguments, L"", 60000).output;
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  return line;
}

// A holder that ended without releasing lets the next in; while a task holds the mutex other
// processes time out, and once it is destroyed they get in. The handle kept here keeps the mutex in
// being between the processes.
TEST(ExclusiveTask, AnotherProcessGetsInOnlyWhileNoTaskHoldsIt) {
  const std::wstring name = uniqueName(L"held");
  const UniqueKernelHandle kept(CreateMutexW(nullptr, FALSE, name.c_str()));
  ASSERT_EQ(probe(name + L" abandon"), "acquired");
  {
    ExclusiveTask holder;
    holder.Initialize(name.c_str(), 5000);
    EXPECT_EQ(probe(name + L" 0"), "code=258") << "taken over for real: others time out";
  }
  EXPECT_EQ(probe(name + L" 0"), "acquired");
}

TEST(ExclusiveTask, ATimedOutWaitRaises258AndHoldsNothing) {
  const std::wstring name = uniqueName(L"timeout");
  ExclusiveTask holder;
  holder.Initialize(name.c_str(), INFINITE);
  std::thread([&name] {  // another thread: the mutex is recursive for its owner
    const uintptr_t before = nextHandleValue();
    try {
      ExclusiveTask late;
      late.Initialize(name.c_str(), 200);
      ADD_FAILURE() << "a timed-out wait returned";
    } catch (const vosexception& e) {
      EXPECT_EQ(e.code, static_cast<uint32_t>(WAIT_TIMEOUT));
      EXPECT_TRUE(typeid(e) == typeid(vosexception)) << typeid(e).name();
      EXPECT_NE(e.message.find(L" at WaitForSingleObject failed for mutex " + name), std::wstring::npos);
      EXPECT_EQ(e.sites.at(0).function, "ExclusiveTask::Initialize");
    }
    EXPECT_EQ(nextHandleValue(), before) << "the timed-out task kept its mutex";
  }).join();

  // A second Initialize gives the first mutex back rather than keep it owned with no handle; the
  // handle kept here keeps the mutex in being.
  const UniqueKernelHandle kept(OpenMutexW(SYNCHRONIZE, FALSE, name.c_str()));
  holder.Initialize(uniqueName(L"other").c_str(), INFINITE);
  EXPECT_EQ(probe(name + L" 0"), "acquired");
}

}  // namespace
