#pragma once
// Running a Windows child process, or a Linux shell command beside Wine, to its end. Any thread.

#include <windows.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "platform/VFileName.h"
#include "platform/moduleName.h"

struct ProcessResult {
  DWORD exitCode = 0;
  bool finished = false;  // false when the process had to be killed after the wait limit
  std::string output;     // standard output and standard error together
};

// Runs application with the arguments in directory (empty: the caller's), killed after waitLimitMs.
inline ProcessResult runProcess(const std::wstring& application, const std::wstring& arguments,
                                const std::wstring& directory = L"", DWORD waitLimitMs = 120000) {
  ProcessResult result;
  SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return result;
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = startup.hStdError = writeEnd;
  std::wstring commandLine = L"\"" + application + L"\" " + arguments;
  PROCESS_INFORMATION process{};
  const wchar_t* folder = directory.empty() ? nullptr : directory.c_str();
  const BOOL started = CreateProcessW(application.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0,
                                      nullptr, folder, &startup, &process);
  result.output = started ? "" : "CreateProcess failed with error " + std::to_string(GetLastError());
  // Only the child holds the write end now: the reader sees the pipe end when the child does.
  CloseHandle(writeEnd);
  std::thread reader([&] {
    char buffer[4096];
    DWORD count = 0;
    while (ReadFile(readEnd, buffer, sizeof(buffer), &count, nullptr) && count > 0) {
      result.output.append(buffer, count);
    }
  });
  if (started) {
    result.finished = WaitForSingleObject(process.hProcess, waitLimitMs) == WAIT_OBJECT_0;
    if (!result.finished) TerminateProcess(process.hProcess, 1);
    WaitForSingleObject(process.hProcess, INFINITE);
    GetExitCodeProcess(process.hProcess, &result.exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  reader.join();
  CloseHandle(readEnd);
  return result;
}

// The folder of the running test executable, where the build puts every host and DLL.
inline std::wstring executableFolder() { return VFileName::directory(moduleName(nullptr)); }

// runProcess of the executable fileName in executableFolder().
inline ProcessResult runHost(const std::wstring& fileName, const std::wstring& arguments = L"",
                             const std::wstring& directory = L"", DWORD waitLimitMs = 120000) {
  return runProcess(VFileName::combine(executableFolder(), fileName), arguments, directory, waitLimitMs);
}

// The Linux path of a Windows path; empty when Wine gives none.
inline std::string unixPath(const std::wstring& path) {
  const auto toUnix = reinterpret_cast<char*(CDECL*)(const wchar_t*)>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  char* unix = toUnix != nullptr ? toUnix(path.c_str()) : nullptr;
  const std::string result = unix != nullptr ? unix : "";
  HeapFree(GetProcessHeap(), 0, unix);
  return result;
}

// The Linux command running the Windows program at path under Wine in the build's prefix.
inline std::string wineCommand(const std::wstring& program) {
  return "/bin/bash '" KESTRIN_SOURCE_DIR "/scripts/wine-run.sh' '" + unixPath(program) + "'";
}

// The bytes of a file, read while writers may still have it open; empty when it does not exist.
inline std::string readBytes(const std::wstring& path) {
  std::ifstream file(std::filesystem::path(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

// Runs command with the Linux shell in folder (a Windows path); its exit status, -1 if it did not end.
inline int runLinuxShell(const std::wstring& folder, const std::string& command, DWORD waitLimitMs = 120000) {
  static std::atomic<int> runs{0};
  const std::wstring script = folder + L"\\linux" + std::to_wstring(++runs);
  const std::string here = unixPath(folder);
  // The status file appears whole, by a rename, once the command has ended.
  {
    std::ofstream out(std::filesystem::path(script + L".sh"), std::ios::binary);
    out << "cd '" << here << "' && " << command << "\necho $? >\"$0.part\"; mv \"$0.part\" \"${0%.sh}.rc\"\n";
    out.close();
    if (!out) return -1;
  }
  // Wine hands a Linux program the arguments of its command line as they stand.
  const std::string shell = "Z:\\bin\\sh " + unixPath(script + L".sh");
  std::wstring commandLine(shell.begin(), shell.end());
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  if (here.empty() || !CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                      &startup, &process)) {
    return -1;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  for (DWORD waited = 0; waited < waitLimitMs && readBytes(script + L".rc").empty(); waited += 50) Sleep(50);
  const std::string status = readBytes(script + L".rc");
  return status.empty() ? -1 : std::stoi(status);
}
