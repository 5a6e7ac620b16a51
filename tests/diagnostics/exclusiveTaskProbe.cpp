// exclusive_task_probe: a second process for the exclusive-task tests. Prints one line.
//   exclusive_task_probe take NAME TIMEOUT READY ACQUIRED
//       sets the event READY, initialises a task of NAME (TIMEOUT in ms, or "infinite"), sets the
//       event ACQUIRED and prints "acquired", then destroys the task; a raise prints "code=N"
//   exclusive_task_probe abandon NAME
//       initialises a task of NAME and ends the process without destroying it
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "diagnostics/ExclusiveTask.h"
#include "diagnostics/vexception.h"

namespace {

void setEvent(const wchar_t* name) {
  const HANDLE event = OpenEventW(EVENT_MODIFY_STATE, FALSE, name);
  if (event == nullptr) return;
  SetEvent(event);
  CloseHandle(event);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring command = argc > 2 ? argv[1] : L"";
  try {
    if (command == L"take" && argc == 6) {
      const uint32_t timeout = std::wcscmp(argv[3], L"infinite") == 0 ? INFINITE : std::wcstoul(argv[3], nullptr, 10);
      setEvent(argv[4]);
      ExclusiveTask task;
      task.Initialize(argv[2], timeout);
      setEvent(argv[5]);
      std::printf("acquired\n");
      return 0;
    }
    if (command == L"abandon") {
      ExclusiveTask task;
      task.Initialize(argv[2], INFINITE);
      std::printf("held\n");
      std::fflush(stdout);
      ExitProcess(0);  // skips the destructor: the mutex is left owned by an ended thread
    }
  } catch (const vosexception& e) {
    std::printf("code=%u\n", e.code);
    return 3;
  }
  std::fprintf(stderr, "usage: exclusive_task_probe take NAME TIMEOUT READY ACQUIRED | abandon NAME\n");
  return 2;
}
