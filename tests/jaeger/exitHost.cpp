// Ends its process with spans queued ("exit span <i>") by <mode>: return, exit, ucrt-exit, global,
// exitprocess, logged-exitprocess, stalled-exit; or while four threads trace spans "t<k> <i>"
// ("busy-<mode>", printing "finished <k> <count>" and "dropped <count>" first; "busy-kill" kills
// one and prints what the others did in the next 300 ms).
// Usage: jaeger_exit_host <agent host:port> <spans, or ms for busy-> <mode>

#include <windows.h>

#include <tlhelp32.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "jaegertracing/Tracer.h"

namespace {

constexpr int kBusyThreads = 4;
std::atomic<long> finished[kBusyThreads];
// Never destroyed: exit destroys the statics while the busy threads still trace.
std::shared_ptr<opentracing::Tracer>* busyTracer;

DWORD WINAPI traceBusily(void* thread) {
  const int k = static_cast<int>(reinterpret_cast<intptr_t>(thread));
  const std::string group = "t" + std::to_string(k) + " ";
  for (long i = 0;; ++i) {
    (*busyTracer)->StartSpan(group + std::to_string(i))->SetTag("Line", static_cast<int64_t>(i));
    finished[k] = i + 1;
  }
}

// Straight to the handle, which exit may not flush, and without allocating: a killed thread may
// hold the heap's lock.
void print(const char* text) {
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, static_cast<DWORD>(std::strlen(text)), &written, nullptr);
}

// Spans finished by the busy threads but the first, and the process's processor time in ms.
std::pair<long, long long> othersWork() {
  FILETIME created, ended, kernel, user;
  GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user);
  auto ms = [](const FILETIME& t) { return ((int64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 10000; };
  return {finished[1] + finished[2] + finished[3], ms(kernel) + ms(user)};
}

void suspendOtherThreads() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
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

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) return 2;
  std::string mode = argv[3];
  // A Visual C++ host has the universal run-time loaded before it makes a tracer.
  HMODULE ucrt = mode == "ucrt-exit" ? LoadLibraryW(L"ucrtbase.dll") : nullptr;
  auto tracer = jaegertracing::Tracer::make(
      "exit." + mode, jaegertracing::Config(false, jaegertracing::samplers::Config("const", 1),
                                            jaegertracing::reporters::Config(1000, std::chrono::minutes(10),
                                                                             mode == "logged-exitprocess", argv[1])));
  const int count = std::atoi(argv[2]);
  if (mode.compare(0, 5, "busy-") == 0) {
    mode.erase(0, 5);
    busyTracer = new std::shared_ptr<opentracing::Tracer>(tracer);
    HANDLE threads[kBusyThreads];
    for (intptr_t k = 0; k < kBusyThreads; ++k) {
      threads[k] = CreateThread(nullptr, 0, traceBusily, reinterpret_cast<void*>(k), 0, nullptr);
      if (threads[k] == nullptr) return 4;
    }
    Sleep(static_cast<DWORD>(count));
    if (mode == "kill") {
      TerminateThread(threads[0], 9);
      WaitForSingleObject(threads[0], INFINITE);
      const auto before = othersWork();
      Sleep(300);
      const auto after = othersWork();
      char text[96];
      std::snprintf(text, sizeof text, "after the kill %ld spans, %lld ms of processor\n",
                    after.first - before.first, after.second - before.second);
      print(text);
      // Not through the exit path, which a thread killed inside the heap's lock would stall.
      TerminateProcess(GetCurrentProcess(), 0);
    }
    std::string text;
    for (int k = 0; k < kBusyThreads; ++k) text += "finished " + std::to_string(k) + " " + std::to_string(finished[k]) + "\n";
    const auto statistics = std::static_pointer_cast<jaegertracing::Tracer>(tracer)->statistics();
    text += "dropped " + std::to_string(statistics.droppedQueueFull + statistics.droppedOutOfMemory) + "\n";
    print(text.c_str());
  } else {
    if (mode == "stalled-exit") {
      Sleep(200);  // lets the background threads reach their wait for work
      suspendOtherThreads();
    }
    for (int i = 0; i < count; ++i) tracer->StartSpan("exit span " + std::to_string(i));
  }
  if (mode == "global") {  // the tracer is then destroyed with the statics, while the process ends
    opentracing::Tracer::InitGlobal(tracer);
    return 0;
  }
  if (mode == "exit" || mode == "stalled-exit") std::exit(0);
  if (mode == "ucrt-exit") {
    using Exit = void(__cdecl*)(int);
    if (auto ucrtExit = reinterpret_cast<Exit>(reinterpret_cast<void*>(GetProcAddress(ucrt, "exit")))) ucrtExit(0);
    return 3;
  }
  if (mode == "exitprocess" || mode == "logged-exitprocess") ExitProcess(0);
  // Returning from main destroys the local tracer, which closes it; busy threads keep it alive.
  return 0;
}
