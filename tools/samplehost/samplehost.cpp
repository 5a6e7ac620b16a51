// samplehost: a host of the product that traces through the driver and logs through the log core.
//   samplehost trace    two threads, released together, open their first spans at once and trace
//                       nested functions, one marks an error on its span and logs it (the day's
//                       debug log file and the event log; not the console, which carries the
//                       steps below); a span of samplemodule.dll nests
//                       under the host's; then the trace is injected and "samplehost child" runs
//   samplehost child    what the child runs: nested spans, joined to the parent's trace
//   samplehost unload   samplemodule.dll alone traces, then is unloaded while it holds the
//                       process's only reference to the execute context and so to the tracer
//   samplehost exit-at-first-span
//                       returns from main while another thread is starting the process's first
//                       span: that thread holds the driver's lock while it loads the provider and
//                       makes the tracer, which registers exit handlers, and exit() holds the
//                       run-time's exit lock while it ends tracing; prints "first span
//                       pending=1" when the thread was still starting its span as tracing ended
// Exit code 0 when every step ran; spans go to the agent whether tracing is on or not.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "diagnostics/ExecuteContext.h"
#include "diagnostics/LogSettings.h"
#include "diagnostics/log/LogManager.h"
#include "diagnostics/log/loggedCall.h"
#include "driver/OpenTracingDriver.h"
#include "platform/formatString.h"
#include "platform/VFileName.h"
#include "platform/moduleName.h"

namespace {

using OpenTracingDriver::StartSpan;

void report(const char* step, OpenTracingDriver::ISpanContextProvider& span) {
  std::printf("%s traced=%d\n", step, span.IsEnabled() ? 1 : 0);
  std::fflush(stdout);
}

constexpr SiteName kMalformedSite{"parseRecord", 49};
// The lines of parseRecord's handlers, as its log lines name them.
constexpr LadderLines kParseRecordLadder{53, 54, 55, 56, 57};

// Record 1 is malformed: its span is marked as failed and the error is logged, as a function
// does that reports a failure and carries on.
void parseRecord(int thread) {
  const auto span = StartSpan("parseRecord", __LINE__, "");
  span->SetTag("thread", std::to_string(thread));
  callLogged(formatString(L"Unable to call parseRecord(%d)", thread), "parseRecord", kParseRecordLadder, [&] {
    if (thread != 1) return;
    span->SetError("record 1 is malformed");
    throw vexception(L"record 1 is malformed", kMalformedSite);
  });
  report("parseRecord", *span);
}

void loadRecords(int thread) {
  const auto span = StartSpan("loadRecords", __LINE__, "worker " + std::to_string(thread));
  report("loadRecords", *span);
  parseRecord(thread);
}

HMODULE loadSampleModule() {
  return LoadLibraryW(VFileName::combine(VFileName::directory(moduleName(nullptr)), L"samplemodule.dll").c_str());
}

int traceInModule(HMODULE module, const char* function) {
  using TraceFn = int (*)(const char*);
  auto trace = reinterpret_cast<TraceFn>(reinterpret_cast<void*>(GetProcAddress(module, "SampleModuleTrace")));
  return trace != nullptr ? trace(function) : -1;
}

DWORD runChild() {
  const std::wstring self = moduleName(nullptr);
  std::wstring commandLine = L"\"" + self + L"\" child";
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(self.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                      &process)) {
    std::fprintf(stderr, "samplehost: cannot start the child, error %lu\n", GetLastError());
    return 1;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD exitCode = 1;
  GetExitCodeProcess(process.hProcess, &exitCode);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return exitCode;
}

// Standard output carries the steps, one a line; the log's console messages would break into
// them, so this host keeps its log to the file and the event log.
void keepLogOffTheConsole() {
  LogManager::instance();  // the first module of the process sets the switches
  LogSettings& settings = *getLogSettings(getExecuteContext());
  for (uint8_t& level : settings.console) level = 0;
}

int trace() {
  keepLogOffTheConsole();
  std::atomic<int> waiting{2};
  std::vector<std::thread> workers;
  for (int thread = 1; thread <= 2; ++thread) {
    workers.emplace_back([&waiting, thread] {
      waiting.fetch_sub(1);
      while (waiting.load() > 0) std::this_thread::yield();
      loadRecords(thread);
    });
  }
  for (std::thread& worker : workers) worker.join();

  const auto span = StartSpan("launchChild", __LINE__, "");
  report("launchChild", *span);
  HMODULE module = loadSampleModule();
  const int moduleTraced = traceInModule(module, "moduleWork");
  std::printf("moduleWork traced=%d\n", moduleTraced);
  if (module != nullptr) FreeLibrary(module);
  OpenTracingDriver::InjectCurrentSpan();
  const DWORD childExit = runChild();
  std::printf("child exit=%lu\n", childExit);
  return moduleTraced >= 0 && childExit == 0 ? 0 : 1;
}

int child() {
  const auto span = StartSpan("childMain", __LINE__, "");
  report("childMain", *span);
  const auto inner = StartSpan("childWork", __LINE__, "");
  report("childWork", *inner);
  return 0;
}

int unload() {
  HMODULE module = loadSampleModule();
  if (module == nullptr) return 1;
  const int traced = traceInModule(module, "unloadWork");
  std::printf("unloadWork traced=%d\n", traced);
  FreeLibrary(module);
  std::printf("unloaded\n");
  return traced >= 0 ? 0 : 1;
}

std::atomic<bool> firstSpanStarted{false};

int exitAtFirstSpan() {
  // The context exists before the handler below is registered, so its release runs after it.
  if (!OpenTracingDriver::IsEnabled()) return 1;
  std::atexit([] {
    std::thread([] {
      StartSpan("firstSpan", __LINE__, "");
      firstSpanStarted = true;
    }).detach();
    Sleep(500);
    std::printf("first span pending=%d\n", firstSpanStarted ? 0 : 1);
    std::fflush(stdout);
  });
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring command = argc > 1 ? argv[1] : L"";
  if (command == L"trace") return trace();
  if (command == L"child") return child();
  if (command == L"unload") return unload();
  if (command == L"exit-at-first-span") return exitAtFirstSpan();
  std::fprintf(stderr, "usage: samplehost trace | child | unload | exit-at-first-span\n");
  return 2;
}
