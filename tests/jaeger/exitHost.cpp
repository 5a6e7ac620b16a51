// jaeger_exit_host <agent host:port> <count> <mode>: queues <count> spans "exit span <i>" and ends its
// process by <mode>: return, exit, ucrt-exit, global, exitprocess, logged-exitprocess, stalled-exit; or
// "kill": kills the first of four threads tracing for <count> ms, prints what the others did in 300 ms.

#include <windows.h>

#include <tlhelp32.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "jaegertracing/Tracer.h"

namespace {

// The code every way of ending passes to the parent, whatever the library does at exit.
constexpr int kEnded = 7;
constexpr int kBusyThreads = 4;
std::atomic<long> finished[kBusyThreads];
std::shared_ptr<opentracing::Tracer>* busyTracer;

DWORD WINAPI traceBusily(void* thread) {
  const int k = static_cast<int>(reinterpret_cast<intptr_t>(thread));
  const std::string group = "t" + std::to_string(k) + " ";
  for (long i = 0;; ++i) {
    (*busyTracer)->StartSpan(group + std::to_string(i))->SetTag("Line", static_cast<int64_t>(i));
    finished[k] = i + 1;
  }
}

// Spans finished by the busy threads but the first, and the process's processor time in ms.
std::pair<long, long long> othersWork() {
  FILETIME created, ended, kernel, user;
  GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user);
  auto ms = [](const FILETIME& t) { return ((int64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 10000; };
  return {finished[1] + finished[2] + finished[3], ms(kernel) + ms(user)};
}

}  // namespace

int main(int, char** argv) {
  const std::string mode = argv[3];
  // A Visual C++ host has the universal run-time loaded before it makes a tracer.
  HMODULE ucrt = mode == "ucrt-exit" ? LoadLibraryW(L"ucrtbase.dll") : nullptr;
  auto tracer = jaegertracing::Tracer::make(
      "exit." + mode, jaegertracing::Config(false, jaegertracing::samplers::Config("const", 1),
                                            jaegertracing::reporters::Config(1000, std::chrono::minutes(10),
                                                                             mode == "logged-exitprocess", argv[1])));
  const int count = std::atoi(argv[2]);
  if (mode == "kill") {
    busyTracer = new std::shared_ptr<opentracing::Tracer>(tracer);
    const HANDLE first = CreateThread(nullptr, 0, traceBusily, nullptr, 0, nullptr);
    for (intptr_t k = 1; k < kBusyThreads; ++k) {
      CreateThread(nullptr, 0, traceBusily, reinterpret_cast<void*>(k), 0, nullptr);
    }
    Sleep(static_cast<DWORD>(count));
    TerminateThread(first, 9);
    WaitForSingleObject(first, INFINITE);
    const auto before = othersWork();
    Sleep(300);
    const auto after = othersWork();
    // Straight to the handle without allocating, as the killed thread may hold the heap's lock; and
    // not through the exit path, which that lock would stall.
    char text[96];
    const int size = std::snprintf(text, sizeof text, "after the kill %ld spans, %lld ms of processor\n",
                                   after.first - before.first, after.second - before.second);
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, static_cast<DWORD>(size), &written, nullptr);
    TerminateProcess(GetCurrentProcess(), kEnded);
  }
  if (mode == "stalled-exit") {
    Sleep(200);  // lets the background threads reach their wait for work
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
      if (entry.th32OwnerProcessID != GetCurrentProcessId() || entry.th32ThreadID == GetCurrentThreadId()) continue;
      if (HANDLE thread = OpenThread(THREAD_SUSPEND_RESUME, FALSE, entry.th32ThreadID)) {
        SuspendThread(thread);
        CloseHandle(thread);
      }
    }
    CloseHandle(snapshot);
  }
  for (int i = 0; i < count; ++i) tracer->StartSpan("exit span " + std::to_string(i));
  if (mode == "global") {  // the tracer is then destroyed with the statics, while the process ends
    opentracing::Tracer::InitGlobal(tracer);
    return kEnded;
  }
  if (mode == "exit" || mode == "stalled-exit") std::exit(kEnded);
  if (mode == "ucrt-exit") {
    using Exit = void(__cdecl*)(int);
    if (auto ucrtExit = reinterpret_cast<Exit>(reinterpret_cast<void*>(GetProcAddress(ucrt, "exit")))) ucrtExit(kEnded);
    return 3;
  }
  if (mode == "exitprocess" || mode == "logged-exitprocess") ExitProcess(kEnded);
  // Returning from main destroys the local tracer, which closes it.
  return kEnded;
}
