#pragma once
// Test support: running a Windows child process, or a Linux shell command beside Wine, to its end.

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

// The folder of the running test executable, where the build puts every host and DLL.
std::wstring executableFolder();

// runProcess of the executable fileName in executableFolder().
ProcessResult runHost(const std::wstring& fileName, const std::wstring& arguments = L"",
                      const std::wstring& directory = L"", DWORD waitLimitMs = 120000);

// The Linux path of a Windows path; empty when Wine gives none.
std::string unixPath(const std::wstring& path);

// The bytes of a file, read while writers may still have it open; empty when it does not exist.
std::string readBytes(const std::wstring& path);

// The Linux command that runs the Windows program at path under Wine as the tests run, in the
// build's own prefix; arguments follow it.
std::string wineCommand(const std::wstring& program);

// Starts a Linux program (its command line names it by its Unix path) and lets it run: Wine
// hands it its arguments as they stand. False when it did not start.
bool startLinuxProgram(std::wstring commandLine);

// Runs command with the Linux shell in folder (a Windows path) and waits for it, at most
// waitLimitMs. Wine cannot wait on a Linux process's handle: the end is seen through a file the
// command leaves in folder. Its exit status; -1 when it did not start or end.
int runLinuxShell(const std::wstring& folder, const std::string& command, DWORD waitLimitMs = 120000);
