#include "tests/driver/childProcess.h"

#include <thread>

#include "platform/VFileName.h"
#include "platform/moduleName.h"

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

void removeTree(const std::wstring& folder) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = found.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring child = folder + L"\\" + name;
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        removeTree(child);
      } else {
        DeleteFileW(child.c_str());
      }
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }
  RemoveDirectoryW(folder.c_str());
}

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

std::wstring executableFolder() { return VFileName::directory(moduleName(nullptr)); }

ScratchFolder::ScratchFolder(const std::wstring& prefix) {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  path = VFileName::combine(temp, prefix + std::to_wstring(GetCurrentProcessId()) + L"_" +
                                      std::to_wstring(GetTickCount()));
  CreateDirectoryW(path.c_str(), nullptr);
}

ScratchFolder::~ScratchFolder() { removeTree(path); }

std::wstring ScratchFolder::placeHost(const std::wstring& source, const std::wstring& target) const {
  const std::wstring bin = executableFolder();
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((bin + L"\\*.dll").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = found.cFileName;
      if (_wcsicmp(name.c_str(), L"opentracingprovider.dll") == 0) continue;
      CopyFileW((bin + L"\\" + name).c_str(), (path + L"\\" + name).c_str(), FALSE);
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }
  const std::wstring host = path + L"\\" + target;
  CopyFileW((bin + L"\\" + source).c_str(), host.c_str(), FALSE);
  return host;
}
