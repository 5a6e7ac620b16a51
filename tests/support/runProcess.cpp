#include "tests/support/runProcess.h"

#include <atomic>
#include <string>
#include <thread>

namespace {

class Handle {
 public:
  Handle() = default;
  ~Handle() { close(); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  void close() {
    if (handle != nullptr && handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    handle = nullptr;
  }
  HANDLE handle = nullptr;
};

}  // namespace

ProcessResult runProcess(const std::wstring& application, const std::wstring& arguments, const std::wstring& directory,
                         DWORD waitLimitMs) {
  SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
  Handle readEnd;
  Handle writeEnd;
  if (!CreatePipe(&readEnd.handle, &writeEnd.handle, &inherit, 0)) return {};
  SetHandleInformation(readEnd.handle, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = writeEnd.handle;
  startup.hStdError = writeEnd.handle;
  std::wstring commandLine = L"\"" + application + L"\" " + arguments;
  PROCESS_INFORMATION process{};
  ProcessResult result;
  if (!CreateProcessW(application.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                      directory.empty() ? nullptr : directory.c_str(), &startup, &process)) {
    result.output = "CreateProcess failed with error " + std::to_string(GetLastError());
    return result;
  }
  result.processId = process.dwProcessId;
  writeEnd.close();
  std::thread reader([&] {
    char buffer[4096];
    DWORD count = 0;
    while (ReadFile(readEnd.handle, buffer, sizeof(buffer), &count, nullptr) && count > 0) {
      result.output.append(buffer, count);
    }
  });
  result.finished = WaitForSingleObject(process.hProcess, waitLimitMs) == WAIT_OBJECT_0;
  if (!result.finished) TerminateProcess(process.hProcess, 1);
  WaitForSingleObject(process.hProcess, INFINITE);
  reader.join();
  GetExitCodeProcess(process.hProcess, &result.exitCode);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return result;
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

int runLinuxShell(const std::wstring& folder, const std::string& command, DWORD waitLimitMs) {
  static std::atomic<int> runs{0};
  const std::wstring name = L"linux" + std::to_wstring(++runs);
  const std::string here = unixPath(folder);
  const std::string script = "cd '" + here + "' && " + command + "\necho $? >" + std::string(name.begin(), name.end()) +
                             ".part; mv " + std::string(name.begin(), name.end()) + ".part " +
                             std::string(name.begin(), name.end()) + ".rc\n";
  const std::wstring scriptPath = folder + L"\\" + name + L".sh";
  HANDLE file = CreateFileW(scriptPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD written = 0;
  const bool saved = file != INVALID_HANDLE_VALUE &&
                     WriteFile(file, script.data(), static_cast<DWORD>(script.size()), &written, nullptr) &&
                     written == script.size();
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  if (!saved || here.empty()) return -1;
  std::wstring commandLine = L"Z:\\bin\\sh " + std::wstring(here.begin(), here.end()) + L"/" + name + L".sh";
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    return -1;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  const std::wstring rc = folder + L"\\" + name + L".rc";
  for (DWORD waited = 0; waited < waitLimitMs && GetFileAttributesW(rc.c_str()) == INVALID_FILE_ATTRIBUTES; waited += 50) {
    Sleep(50);
  }
  const std::string status = readBytes(rc);
  return status.empty() ? -1 : std::stoi(status);
}
