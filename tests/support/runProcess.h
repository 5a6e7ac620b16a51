#pragma once
// Running a Windows child process, or a Linux shell command beside Wine, to its end. Any thread.

#include <windows.h>

#include <string>

struct ProcessResult {
  DWORD exitCode = 0;
  bool finished = false;  // false when the process had to be killed after the wait limit
  std::string output;     // standard output and standard error together
};

// Runs application with the arguments in directory (empty: the caller's) for at most waitLimitMs,
// then terminates it.
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

// The Linux command running the Windows program at path under Wine in the build's prefix.
std::string wineCommand(const std::wstring& program);

// Starts the Linux program its command line names by Unix path, without waiting; false when it did not start.
bool startLinuxProgram(std::wstring commandLine);

// Runs command with the Linux shell in folder (a Windows path) for at most waitLimitMs; its exit
// status, -1 when it did not start or end.
int runLinuxShell(const std::wstring& folder, const std::string& command, DWORD waitLimitMs = 120000);
