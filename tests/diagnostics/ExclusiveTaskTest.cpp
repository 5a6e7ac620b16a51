#include "diagnostics/ExclusiveTask.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "diagnostics/vexception.h"
#include "platform/VFileName.h"
#include "platform/moduleName.h"
#include "tests/support/nextHandle.h"
#include "tests/support/runProcess.h"

namespace {

// Test processes run side by side: every name carries the process id and the test's own word.
std::wstring uniqueName(const wchar_t* what) {
  return L"kestrin_task_test_" + std::to_wstring(GetCurrentProcessId()) + L"_" + what;
}

const std::wstring kProbe = VFileName::combine(VFileName::directory(moduleName(nullptr)), L"exclusive_task_probe.exe");

// A manual-reset event the probe opens by name.
struct NamedEvent {
  explicit NamedEvent(const std::wstring& name) : name(name), handle(CreateEventW(nullptr, TRUE, FALSE, name.c_str())) {}
  ~NamedEvent() { CloseHandle(handle); }
  bool waitFor(DWORD milliseconds) const { return WaitForSingleObject(handle, milliseconds) == WAIT_OBJECT_0; }

  std::wstring name;
  HANDLE handle;
};

// The probe's one line, without the line break its text-mode output ends it with.
std::string lineOf(const ProcessResult& result) {
  std::string line = result.output;
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  return line;
}

// The probe taking name with a time-out, run to its end: its line.
std::string takeInChild(const std::wstring& name, const std::wstring& timeout) {
  return lineOf(runProcess(kProbe, L"take " + name + L" " + timeout + L" none none"));
}

TEST(ExclusiveTaskAcrossProcesses, ASecondProcessWaitsUntilTheHolderIsDestroyed) {
  const std::wstring name = uniqueName(L"held");
  const NamedEvent ready(uniqueName(L"ready"));
  const NamedEvent acquired(uniqueName(L"acquired"));
  auto holder = std::make_unique<ExclusiveTask>();
  holder->Initialize(name.c_str(), INFINITE);

  ProcessResult child;
  std::thread waiter([&] {
    child = runProcess(kProbe, L"take " + name + L" infinite " + ready.name + L" " + acquired.name, L"", 60000);
  });
  ASSERT_TRUE(ready.waitFor(30000)) << "the probe did not start";
  EXPECT_FALSE(acquired.waitFor(1000)) << "the second process got in while the task was held";
  holder.reset();
  EXPECT_TRUE(acquired.waitFor(30000)) << "the second process was not let in after the holder went";
  waiter.join();
  EXPECT_EQ(child.exitCode, 0u) << child.output;
  EXPECT_EQ(lineOf(child), "acquired");
}

TEST(ExclusiveTaskAcrossProcesses, AHolderThatExitsWithoutReleaseLetsTheNextIn) {
  const std::wstring name = uniqueName(L"abandoned");
  const ProcessResult holder = runProcess(kProbe, L"abandon " + name);
  ASSERT_EQ(lineOf(holder), "held");
  {
    ExclusiveTask task;
    ASSERT_NO_THROW(task.Initialize(name.c_str(), 5000));
    // Taken over for real: another process now times out...
    EXPECT_EQ(takeInChild(name, L"0"), "code=258");
  }
  // ...and gets in once this task is destroyed.
  EXPECT_EQ(takeInChild(name, L"0"), "acquired");
}

TEST(ExclusiveTaskTimeOut, RaisesWaitTimeoutAndHoldsNothing) {
  const std::wstring name = uniqueName(L"timeout");
  ExclusiveTask holder;
  holder.Initialize(name.c_str(), INFINITE);
  // Another thread: the mutex is recursive for the thread that owns it.
  std::thread([&name] {
    const uintptr_t before = nextHandleValue();
    {
      ExclusiveTask late;
      const auto start = std::chrono::steady_clock::now();
      try {
        late.Initialize(name.c_str(), 200);
        ADD_FAILURE() << "a timed-out wait returned";
      } catch (const vosexception& e) {
        EXPECT_EQ(e.code, static_cast<uint32_t>(WAIT_TIMEOUT));
        EXPECT_TRUE(typeid(e) == typeid(vosexception)) << typeid(e).name();
        EXPECT_NE(e.message.find(L" at WaitForSingleObject failed for mutex " + name), std::wstring::npos) << e.message;
        ASSERT_EQ(e.sites.size(), 1u);
        EXPECT_EQ(e.sites[0].function, "ExclusiveTask::Initialize");
      }
      // The wait is the time-out's own; the lower bound only shows it was not skipped.
      EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(190));
      // The mutex handle is already gone: there is nothing for the destructor to release.
      EXPECT_EQ(nextHandleValue(), before);
    }
  }).join();
}

TEST(ExclusiveTaskTimeOut, ASecondInitializeGivesTheFirstMutexBack) {
  const std::wstring first = uniqueName(L"first");
  const std::wstring second = uniqueName(L"second");
  ExclusiveTask task;
  task.Initialize(first.c_str(), INFINITE);
  task.Initialize(second.c_str(), INFINITE);
  EXPECT_EQ(takeInChild(first, L"0"), "acquired");
  EXPECT_EQ(takeInChild(second, L"0"), "code=258");
}

TEST(ExclusiveTaskTimeOut, ANameHeldByAnotherKindOfObjectRaisesWithTheName) {
  const std::wstring name = uniqueName(L"event");
  const NamedEvent clash(name);
  ExclusiveTask task;
  try {
    task.Initialize(name.c_str(), 0);
    ADD_FAILURE() << "a mutex was made over an event's name";
  } catch (const VInvalidHandleException& e) {
    EXPECT_NE(e.message.find(L" at create mutex " + name), std::wstring::npos) << e.message;
  }
}

}  // namespace
