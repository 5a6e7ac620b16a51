#include "tests/support/runProcess.h"

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "platform/VFileName.h"
#include "platform/moduleName.h"

namespace {

std::wstring widen(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

}  // namespace

ProcessResult runProcess(const std::wstring& application, const std::wstring& arguments, const std::wstring& directory,
                         DWORD waitLimitMs) {
  ProcessResult result;
  SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return result;
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = startup.hStdError = writeEnd;
  std::wstring commandLine = L"\"" + application + L"\" " + arguments;
  PROCESS_INFORMATION process{};
  const BOOL started = CreateProcessW(application.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                      directory.empty() ? nullptr : directory.c_str(), &startup, &process);
  result.output = started ? "" : "CreateProcess failed with error " + std::to_string(GetLastError());
  // Only the child holds the write end now: the reader sees the pipe end when the child does.
  CloseHandle(writeEnd);
  std::thread reader([&] {
    char buffer[4096];
    DWORD count = 0;
    while (ReadFile(readEnd, buffer, sizeof(buffer), &count, nullptr) && count > 0) result.output.append(buffer, count);
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

std::wstring executableFolder() { return VFileName::directory(moduleName(nullptr)); }

ProcessResult runHost(const std::wstring& fileName, const std::wstring& arguments, const std::wstring& directory,
                      DWORD waitLimitMs) {
  return runProcess(VFileName::combine(executableFolder(), fileName), arguments, directory, waitLimitMs);
}

std::string unixPath(const std::wstring& path) {
  using ToUnix = char*(CDECL*)(const wchar_t*);
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
  std::ifstream file(std::filesystem::path(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

bool startLinuxProgram(std::wstring commandLine) {
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    return false;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}

int runLinuxShell(const std::wstring& folder, const std::string& command, DWORD waitLimitMs) {
  static std::atomic<int> runs{0};
  const std::string name = "linux" + std::to_string(++runs), here = unixPath(folder);
  const std::wstring script = folder + L"\\" + widen(name);
  // The status file appears whole, by a rename, once the command has ended.
  std::ofstream(std::filesystem::path(script + L".sh"), std::ios::binary)
      << "cd '" << here << "' && " << command << "\necho $? >" << name << ".part; mv " << name << ".part " << name
      << ".rc\n";
  if (here.empty() || !startLinuxProgram(L"Z:\\bin\\sh " + widen(here + "/" + name + ".sh"))) return -1;
  for (DWORD waited = 0; waited < waitLimitMs && readBytes(script + L".rc").empty(); waited += 50) Sleep(50);
  const std::string status = readBytes(script + L".rc");
  return status.empty() ? -1 : std::stoi(status);
}
