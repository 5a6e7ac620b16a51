#pragma once
// Test support: running a Windows child process to its end and collecting what it prints.

#include <windows.h>

#include <string>

struct ProcessResult {
  DWORD exitCode = 0;
  bool finished = false;  // false when the process had to be killed after the wait limit
  std::string output;     // standard output and standard error together
};

// Runs application with the given arguments in directory (empty: the caller's) and waits for it,
// at most waitLimitMs; a process still running then is terminated.
ProcessResult runProcess(const std::wstring& application, const std::wstring& arguments,
                         const std::wstring& directory = L"", DWORD waitLimitMs = 120000);
