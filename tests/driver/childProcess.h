#pragma once
// Test support: running a Windows child process and collecting what it prints, and folders that
// hold a copy of a test host beside the product's DLLs, away from the build's own folder.

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

// The folder of the running test executable.
std::wstring executableFolder();

// A fresh folder under the temporary folder, removed with everything in it at the end.
class ScratchFolder {
 public:
  explicit ScratchFolder(const std::wstring& prefix);
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  // Copies every DLL of the build's binary folder except the provider into this folder, and
  // the executable called source there as target; returns the target's path.
  std::wstring placeHost(const std::wstring& source, const std::wstring& target) const;

  std::wstring path;
};
