#include "diagnostics/ExecuteContext.h"

#include <windows.h>
#include <psapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <thread>
#include <vector>

#include "diagnostics/LogSettings.h"
#include "driver/OpenTracingDriverState.h"
#include "platform/UniqueHandle.h"
#include "platform/VFileName.h"
#include "platform/moduleName.h"

// Each test runs in a process of its own, so every test starts without a context.
namespace {

// A module of the test's folder, freed at the end of the scope unless reset before.
UniqueLibrary load(const std::wstring& relative) {
  UniqueLibrary module(LoadLibraryW(VFileName::combine(VFileName::directory(moduleName(nullptr)), relative).c_str()));
  EXPECT_TRUE(module) << "cannot load module, error " << GetLastError();
  return module;
}

ExecuteContext* contextOf(const UniqueLibrary& sample) {
  using Fn = ExecuteContext* (*)();
  auto fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(sample.get(), "SampleModuleExecuteContext")));
  return fn != nullptr ? fn() : nullptr;
}

ExecuteContext* exportedSlot(HMODULE module) {
  auto slot = reinterpret_cast<ExecuteContext* const*>(GetProcAddress(module, kExecuteContextSlotName));
  EXPECT_NE(slot, nullptr) << "the module exports no slot";
  return slot != nullptr ? *slot : nullptr;
}

// Runs fn on count threads released at the same moment.
void runTogether(int count, const std::function<void(int)>& fn) {
  std::atomic<int> waiting{count};
  std::vector<std::thread> threads;
  for (int i = 0; i < count; ++i) {
    threads.emplace_back([&, i] {
      waiting.fetch_sub(1);
      while (waiting.load() > 0) std::this_thread::yield();
      fn(i);
    });
  }
  for (std::thread& t : threads) t.join();
}

// Stands in for the provider's tracer holder, so that a test can see the driver state end.
class TracerWatch : public OpenTracingDriver::ITracerProvider {
 public:
  explicit TracerWatch(bool& destroyed) : destroyed_(destroyed) {}
  ~TracerWatch() override { destroyed_ = true; }

 private:
  bool& destroyed_;
};

}  // namespace

TEST(ExecuteContext, ConcurrentFirstCallsCreateOneContextThatTheModulesSlotExports) {
  EXPECT_EQ(exportedSlot(GetModuleHandleW(nullptr)), nullptr);
  std::vector<ExecuteContext*> seen(8);
  runTogether(8, [&](int i) { seen[i] = getExecuteContext(); });
  ExecuteContext* context = seen[0];
  ASSERT_NE(context, nullptr);
  for (ExecuteContext* other : seen) EXPECT_EQ(other, context);
  EXPECT_EQ(context->referenceCount.load(), 1u);
  EXPECT_NE(context->driverState, nullptr);
  EXPECT_EQ(context->reserved, nullptr);
  EXPECT_FALSE(hasLogSettings(context));
  EXPECT_EQ(exportedSlot(GetModuleHandleW(nullptr)), context);
  EXPECT_EQ(getExecuteContext(), context);
  EXPECT_EQ(context->referenceCount.load(), 1u);
}

TEST(ExecuteContext, AModuleLoadedLaterAdoptsTheContextAndGivesItBackAtUnload) {
  ExecuteContext* context = getExecuteContext();
  bool tracerDestroyed = false;
  context->driverState->tracer.reset(new TracerWatch(tracerDestroyed));
  UniqueLibrary sample = load(L"samplemodule.dll");
  EXPECT_EQ(exportedSlot(sample.get()), nullptr);
  EXPECT_EQ(contextOf(sample), context);
  EXPECT_EQ(exportedSlot(sample.get()), context);
  EXPECT_EQ(context->referenceCount.load(), 2u);
  sample.reset();
  EXPECT_EQ(context->referenceCount.load(), 1u);
  EXPECT_FALSE(tracerDestroyed);
  EXPECT_EQ(getExecuteContext(), context);
}

TEST(ExecuteContext, SearchPassesOverEmptySlotsAndReachesModulesBeyondTheFirst256) {
  std::vector<UniqueLibrary> empty;
  for (int i = 1; i <= 300; ++i) empty.push_back(load(L"nullslot\\nullslot" + std::to_wstring(i) + L".dll"));
  UniqueLibrary sample = load(L"samplemodule.dll");
  ExecuteContext* context = contextOf(sample);
  ASSERT_NE(context, nullptr);
  EXPECT_EQ(context->referenceCount.load(), 1u);

  std::vector<HMODULE> modules(1024);
  DWORD needed = 0;
  ASSERT_TRUE(K32EnumProcessModules(GetCurrentProcess(), modules.data(), 1024 * sizeof(HMODULE), &needed));
  modules.resize(needed / sizeof(HMODULE));
  const auto position = std::find(modules.begin(), modules.end(), sample.get()) - modules.begin();
  ASSERT_GE(position, 256) << "the context must sit beyond the first enumeration buffer";

  EXPECT_EQ(getExecuteContext(), context);
  EXPECT_EQ(context->referenceCount.load(), 2u);
}

TEST(ExecuteContext, TheLastModuleToLetGoDestroysItWhileTheLoaderUnloadsThatModule) {
  UniqueLibrary sample = load(L"samplemodule.dll");
  ExecuteContext* adopted = contextOf(sample);
  ASSERT_NE(adopted, nullptr);
  EXPECT_EQ(adopted->referenceCount.load(), 1u);
  bool tracerDestroyed = false;
  adopted->driverState->tracer.reset(new TracerWatch(tracerDestroyed));
  LogSettings* settings = getLogSettings(adopted);
  // A listener node as another module would add it; the release frees the node, never the listener.
  auto* node = static_cast<LogListenerNode*>(::operator new(sizeof(LogListenerNode)));
  *node = LogListenerNode{settings->listeners.sentinel, settings->listeners.sentinel, nullptr};
  settings->listeners.sentinel->next = settings->listeners.sentinel->previous = node;
  settings->listeners.size = 1;

  sample.reset();
  EXPECT_TRUE(tracerDestroyed);
  ExecuteContext* fresh = getExecuteContext();
  EXPECT_EQ(fresh->referenceCount.load(), 1u);
  EXPECT_FALSE(hasLogSettings(fresh));
}

TEST(LogSettings, CreatedZeroedWithAnEmptyListOnceForEveryModule) {
  ExecuteContext* context = getExecuteContext();
  ASSERT_FALSE(hasLogSettings(context));
  std::vector<LogSettings*> seen(8);
  runTogether(8, [&](int i) { seen[i] = getLogSettings(context); });
  LogSettings* settings = seen[0];
  ASSERT_NE(settings, nullptr);
  for (LogSettings* other : seen) EXPECT_EQ(other, settings);
  EXPECT_TRUE(hasLogSettings(context));
  for (int level = 0; level < 6; ++level) {
    EXPECT_EQ(settings->console[level], 0);
    EXPECT_EQ(settings->eventLog[level], 0);
  }
  EXPECT_EQ(settings->consoleStarted, 0);
  LogListenerNode* sentinel = settings->listeners.sentinel;
  ASSERT_NE(sentinel, nullptr);
  EXPECT_EQ(sentinel->next, sentinel);
  EXPECT_EQ(sentinel->previous, sentinel);
  EXPECT_EQ(sentinel->listener, nullptr);
  EXPECT_EQ(settings->listeners.size, 0u);

  UniqueLibrary sample = load(L"samplemodule.dll");
  EXPECT_EQ(getLogSettings(contextOf(sample)), settings);
}
