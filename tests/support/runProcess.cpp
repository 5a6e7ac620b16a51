#include "tests/support/runProcess.h"

#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "platform/VFileName.h"
#include "platform/moduleName.h"

ProcessResult runProcess(const std::wstring& application, const std::wstring& arguments, const std::wstring& directory,
                         DWORD waitLimitMs) {
  ProcessResult result;
  SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return result;
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = writeEnd;
  startup.hStdError = writeEnd;
  std::wstring commandLine = L"\"" + application + L"\" " + arguments;
  PROCESS_INFORMATION process{};
  const BOOL started = CreateProcessW(application.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                      directory.empty() ? nullptr : directory.c_str(), &startup, &process);
  const DWORD error = GetLastError();
  // Only the child holds the write end now: the reader sees the end of the pipe when it ends.
  CloseHandle(writeEnd);
  if (!started) {
    CloseHandle(readEnd);
    result.output = "CreateProcess failed with error " + std::to_string(error);
    return result;
  }
  std::thread reader([&] {
    char buffer[4096];
    DWORD count = 0;
    while (ReadFile(readEnd, buffer, sizeof(buffer), &count, nullptr) && count > 0) result.output.append(buffer, count);
  });
  result.finished = WaitForSingleObject(process.hProcess, waitLimitMs) == WAIT_OBJECT_0;
  if (!result.finished) TerminateProcess(process.hProcess, 1);
  WaitForSingleObject(process.hProcess, INFINITE);
  reader.join();
  GetExitCodeProcess(process.hProcess, &result.exitCode);
  CloseHandle(readEnd);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return result;
}

std::wstring executableFolder() { return VFileName::directory(moduleName(nullptr)); }

ProcessResult runHost(const std::wstring& fileName, const std::wstring& arguments, const std::wstring& directory,
                      DWORD waitLimitMs) {
  return runProcess(VFileName::combine(executableFolder(), fileName), arguments, directory, waitLimitMs);
}

std::string unixPath(const std::wstring& path) {
  using ToUnix = char* (CDECL*)(const wchar_t*);
  const auto toUnix = reinterpret_cast<ToUnix>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  char* unix = toUnix != nullptr ? toUnix(path.c_str()) : nullptr;
  const std::string result = unix != nullptr ? unix : "";
  HeapFree(GetProcessHeap(), 0, unix);
  return result;
}

std::string wineCommand(const std::wstring& program) {
  return "/bin/bash '" KESTRIN_SOURCE_DIR "/scripts/wine-run.sh' '" + unixPath(program) + "'";
}

std::string readBytes(const std::wstring& path) {
  std::string bytes;
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                            nullptr);
  if (file == INVALID_HANDLE_VALUE) return bytes;
  char buffer[65536];
  DWORD read = 0;
  while (ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read != 0) bytes.append(buffer, read);
  CloseHandle(file);
  return bytes;
}

bool startLinuxProgram(std::wstring commandLine) {
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    return false;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}

int runLinuxShell(const std::wstring& folder, const std::string& command, DWORD waitLimitMs) {
  static std::atomic<int> runs{0};
  const std::string name = "linux" + std::to_string(++runs);
  const std::string here = unixPath(folder);
  const std::string script =
      "cd '" + here + "' && " + command + "\necho $? >" + name + ".part; mv " + name + ".part " + name + ".rc\n";
  const std::wstring wideName(name.begin(), name.end());
  std::ofstream file(std::filesystem::path(folder + L"\\" + wideName + L".sh"), std::ios::binary);
  file << script;
  file.close();
  if (!file || here.empty()) return -1;
  if (!startLinuxProgram(L"Z:\\bin\\sh " + std::wstring(here.begin(), here.end()) + L"/" + wideName + L".sh")) {
    return -1;
  }
  const std::wstring rc = folder + L"\\" + wideName + L".rc";
  for (DWORD waited = 0; waited < waitLimitMs && GetFileAttributesW(rc.c_str()) == INVALID_FILE_ATTRIBUTES; waited += 50) {
    Sleep(50);
  }
  const std::string status = readBytes(rc);
  return status.empty() ? -1 : std::stoi(status);
}
