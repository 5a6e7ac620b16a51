#include "tests/support/runProcess.h"

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
