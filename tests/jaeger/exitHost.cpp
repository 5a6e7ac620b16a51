// Reports spans and ends its process with them still queued, as a host may: returning from
// main, calling exit, with the tracer installed as the global tracer, calling exit of the
// universal C run-time as a host built with Visual C++ does, or calling ExitProcess. "log"
// returns from main with span logging on; "logged-exitprocess" calls ExitProcess with it on, so
// that the flush at process end says what it sent and what it lost. "stalled-exit" calls exit
// with the tracer's background threads suspended before the spans are made, as on a machine that
// gives them no processor, so the exit handler waits for them in vain. The "busy-" modes end the
// process while four threads trace as fast as they go, spans "<name>t<k> <i>" for thread k,
// after printing how many spans each thread had finished ("finished <k> <count>") and how many
// the tracer dropped ("dropped <count>"); "busy-kill" kills one of the four with TerminateThread
// and prints what the other three did in the 300 ms after.
// Usage: jaeger_exit_host <agent host:port> <spans, or ms for busy-> <mode> [name]

#include <windows.h>

#include <tlhelp32.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <opentracing/tracer.h>

#include "jaegertracing/Tracer.h"

namespace {

constexpr int kBusyThreads = 4;
std::atomic<long> finished[kBusyThreads];

struct Busy {
  std::shared_ptr<opentracing::Tracer> tracer;
  std::string group;  // "<name>t<k> "
  int thread;
};

DWORD WINAPI traceBusily(void* parameter) {
  const Busy& busy = *static_cast<Busy*>(parameter);
  for (long i = 0;; ++i) {
    auto span = busy.tracer->StartSpan(busy.group + std::to_string(i));
    span->SetTag("Line", static_cast<int64_t>(i));
    span->Finish();
    finished[busy.thread] = i + 1;
  }
}

// Straight to the handle, without the run-time's buffer, which exit may not flush; and without
// allocating, since a thread killed with TerminateThread may hold the heap's lock.
void print(opentracing::string_view text) {
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

int64_t cpuMicros(HANDLE thread) {
  FILETIME created, ended, kernel, user;
  if (!GetThreadTimes(thread, &created, &ended, &kernel, &user)) return 0;
  auto micros = [](const FILETIME& t) { return ((int64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 10; };
  return micros(kernel) + micros(user);
}

// Kills the first busy thread, wherever it is, then watches the others for 300 ms: how many
// spans they finished and how much processor time they took.
void killOneAndWatch(HANDLE (&threads)[kBusyThreads]) {
  TerminateThread(threads[0], 9);
  WaitForSingleObject(threads[0], INFINITE);
  long spansBefore = 0;
  int64_t cpuBefore = 0;
  for (int k = 1; k < kBusyThreads; ++k) {
    spansBefore += finished[k];
    cpuBefore += cpuMicros(threads[k]);
  }
  Sleep(300);
  long spans = -spansBefore;
  int64_t cpu = -cpuBefore;
  for (int k = 1; k < kBusyThreads; ++k) {
    spans += finished[k];
    cpu += cpuMicros(threads[k]);
  }
  char text[96];
  std::snprintf(text, sizeof text, "after the kill %ld spans, %lld ms of processor\n", spans,
                static_cast<long long>(cpu / 1000));
  print(text);
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
  const std::string name = argc > 4 ? argv[4] : "";
  // A Visual C++ host has the universal run-time loaded before it makes a tracer.
  HMODULE ucrt = mode == "ucrt-exit" ? LoadLibraryW(L"ucrtbase.dll") : nullptr;
  if (mode == "ucrt-exit" && ucrt == nullptr) return 3;
  // The process ends right after the burst, with spans still queued or in flight.
  auto tracer = jaegertracing::Tracer::make(
      "exit." + mode, jaegertracing::Config(false, jaegertracing::samplers::Config("const", 1),
                                            jaegertracing::reporters::Config(1000, std::chrono::minutes(10),
                                                                             mode == "log" || mode == "logged-exitprocess", argv[1])));
  const int count = std::atoi(argv[2]);
  if (mode.compare(0, 5, "busy-") == 0) {
    mode.erase(0, 5);
    // Never destroyed: exit destroys the statics while the threads still run.
    Busy* busy = new Busy[kBusyThreads];
    HANDLE threads[kBusyThreads];
    for (int k = 0; k < kBusyThreads; ++k) {
      busy[k] = Busy{tracer, name + "t" + std::to_string(k) + " ", k};
      threads[k] = CreateThread(nullptr, 0, traceBusily, &busy[k], 0, nullptr);
      if (threads[k] == nullptr) return 4;
    }
    Sleep(static_cast<DWORD>(count));
    if (mode == "kill") {
      killOneAndWatch(threads);
      // Not through the exit path: a thread killed inside the heap's lock would stall it, which
      // is the system's doing and not what is watched here.
      TerminateProcess(GetCurrentProcess(), 0);
    }
    std::string text;
    for (int k = 0; k < kBusyThreads; ++k) text += "finished " + std::to_string(k) + " " + std::to_string(finished[k]) + "\n";
    const auto statistics = std::static_pointer_cast<jaegertracing::Tracer>(tracer)->statistics();
    text += "dropped " + std::to_string(statistics.droppedQueueFull + statistics.droppedOutOfMemory) + "\n";
    print(text);
  } else {
    if (mode == "stalled-exit") {
      Sleep(200);  // lets the background threads reach their wait for work
      suspendOtherThreads();
    }
    for (int i = 0; i < count; ++i) tracer->StartSpan(name + "exit span " + std::to_string(i));
  }
  if (mode == "global") {
    opentracing::Tracer::InitGlobal(tracer);
    return 0;
  }
  if (mode == "exit" || mode == "stalled-exit") std::exit(0);
  if (mode == "ucrt-exit") {
    using Exit = void(__cdecl*)(int);
    auto ucrtExit = reinterpret_cast<Exit>(reinterpret_cast<void*>(GetProcAddress(ucrt, "exit")));
    if (ucrtExit == nullptr) return 3;
    ucrtExit(0);
  }
  if (mode == "exitprocess" || mode == "logged-exitprocess") ExitProcess(0);
  // The local tracer is destroyed on the way out of main, which closes it (the busy threads
  // keep it alive until the process ends).
  return 0;
}
