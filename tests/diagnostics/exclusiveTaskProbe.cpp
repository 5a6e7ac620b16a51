// exclusive_task_probe NAME TIMEOUT|abandon: a second process for the exclusive-task tests.
// Initialises a task of NAME with TIMEOUT ms, prints "acquired" and destroys the task; a raise
// prints "code=N". With "abandon" it waits without limit and ends the process without destroying
// the task.
#include <windows.h>

#include <cstdio>
#include <cwchar>

#include "diagnostics/ExclusiveTask.h"
#include "diagnostics/vexception.h"

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return 2;
  const bool abandon = std::wcscmp(argv[2], L"abandon") == 0;
  try {
    ExclusiveTask task;
    task.Initialize(argv[1], abandon ? INFINITE : std::wcstoul(argv[2], nullptr, 10));
    std::printf("acquired\n");
    std::fflush(stdout);
    if (abandon) ExitProcess(0);  // skips the destructor: the mutex stays with an ended thread
  } catch (const vosexception& e) {
    std::printf("code=%u\n", e.code);
  }
  return 0;
}
