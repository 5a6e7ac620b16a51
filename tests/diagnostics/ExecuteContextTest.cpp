#include "diagnostics/ExecuteContext.h"

#include <windows.h>
#include <psapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>
#include <vector>

#include "diagnostics/LogSettings.h"
#include "driver/OpenTracingDriverState.h"
#include "tests/support/runProcess.h"

// Each test runs in a process of its own, so every test starts without a context.
static UniqueLibrary load(const std::wstring& relative) {
  UniqueLibrary module(LoadLibraryW((executableFolder() + L"\\" + relative).c_str()));
  EXPECT_TRUE(module) << "cannot load module, error " << GetLastError();
  return module;
}

static ExecuteContext* contextOf(const UniqueLibrary& sample) {
  using Fn = ExecuteContext* (*)();
  auto fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(sample.get(), "SampleModuleExecuteContext")));
  return fn != nullptr ? fn() : nullptr;
}

// Stands in for the provider's tracer holder: its end shows the driver state's.
struct TracerWatch : OpenTracingDriver::ITracerProvider {
  explicit TracerWatch(bool& destroyed) : destroyed(destroyed) {}
  ~TracerWatch() override { destroyed = true; }
  bool& destroyed;
};


TEST(ExecuteContext, ConcurrentFirstCallsCreateOneContextThatALaterModuleAdoptsUntilItsUnload) {
  std::vector<ExecuteContext*> contexts(8);
  std::vector<LogSettings*> settings(8);
  std::atomic<int> waiting{8};
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i) {
    threads.emplace_back([&, i] {
      for (waiting.fetch_sub(1); waiting.load() > 0;) std::this_thread::yield();  // all start at once
      settings[i] = getLogSettings(contexts[i] = getExecuteContext());
    });
  }
  for (std::thread& thread : threads) thread.join();
  ExecuteContext* context = contexts[0];
  ASSERT_NE(context, nullptr);
  EXPECT_EQ(std::count(contexts.begin(), contexts.end(), context), 8);
  EXPECT_EQ(std::count(settings.begin(), settings.end(), settings[0]), 8);
  EXPECT_EQ(context->referenceCount.load(), 1u);
  const LogSettings& fresh = *settings[0];
  for (int level = 0; level < 6; ++level) EXPECT_EQ(fresh.console[level] | fresh.eventLog[level], 0) << level;
  EXPECT_EQ(fresh.listeners.size, 0u);

  bool tracerDestroyed = false;
  context->driverState->tracer.reset(new TracerWatch(tracerDestroyed));
  UniqueLibrary sample = load(L"samplemodule.dll");
  EXPECT_EQ(contextOf(sample), context);
  EXPECT_EQ(context->referenceCount.load(), 2u);
  sample.reset();
  EXPECT_EQ(context->referenceCount.load(), 1u);
  EXPECT_FALSE(tracerDestroyed);
}

// The context is destroyed under the loader lock; the listener node is as another module adds one.
TEST(ExecuteContext, TheLastModuleToLetGoDestroysItAndTheNextIsFoundBeyondTheFirst256Modules) {
  UniqueLibrary sample = load(L"samplemodule.dll");
  ExecuteContext* adopted = contextOf(sample);
  ASSERT_NE(adopted, nullptr);
  EXPECT_EQ(adopted->referenceCount.load(), 1u);
  bool tracerDestroyed = false;
  adopted->driverState->tracer.reset(new TracerWatch(tracerDestroyed));
  LogListenerNode*& sentinel = getLogSettings(adopted)->listeners.sentinel;
  auto* node = static_cast<LogListenerNode*>(::operator new(sizeof(LogListenerNode)));
  *node = LogListenerNode{sentinel, sentinel, nullptr};
  sentinel->next = sentinel->previous = node;
  getLogSettings(adopted)->listeners.size = 1;
  sample.reset();
  EXPECT_TRUE(tracerDestroyed);

  std::vector<UniqueLibrary> empty;
  for (int i = 1; i <= 300; ++i) empty.push_back(load(L"nullslot\\nullslot" + std::to_wstring(i) + L".dll"));
  sample = load(L"samplemodule.dll");
  ExecuteContext* context = contextOf(sample);
  ASSERT_NE(context, nullptr);
  EXPECT_FALSE(hasLogSettings(context));
  std::vector<HMODULE> modules(1024);
  DWORD needed = 0;
  ASSERT_TRUE(K32EnumProcessModules(GetCurrentProcess(), modules.data(), 1024 * sizeof(HMODULE), &needed));
  modules.resize(needed / sizeof(HMODULE));
  ASSERT_GE(std::find(modules.begin(), modules.end(), sample.get()) - modules.begin(), 256);
  EXPECT_EQ(getExecuteContext(), context);
  EXPECT_EQ(context->referenceCount.load(), 2u);
}
