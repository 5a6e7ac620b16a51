#include "tests/diagnostics/log/logTestSupport.h"

#include "platform/VDateTime.h"
#include "platform/VFileName.h"
#include "platform/moduleName.h"
#include "tests/support/removeTree.h"

std::wstring makeProductRoot(ProductSettings& values, const std::wstring& name) {
  CreateDirectoryW(L"C:\\kestrin-logtest", nullptr);
  const std::wstring root = L"C:\\kestrin-logtest\\" + name;
  removeTree(root);
  CreateDirectoryW(root.c_str(), nullptr);
  values.set(L"PRODUCT_ROOT_D", root);
  return root;
}

ProcessResult runLogHost(const std::wstring& arguments) {
  return runProcess(VFileName::combine(VFileName::directory(moduleName(nullptr)), L"loghost.exe"), arguments);
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

namespace {

void writeFile(const std::wstring& path, const std::string& bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD written = 0;
  WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
}

}  // namespace

std::string wineRunCommand() { return "/bin/bash '" KESTRIN_SOURCE_DIR "/scripts/wine-run.sh'"; }

std::string logHostUnixCommand() {
  return wineRunCommand() + " '" +
         unixPath(VFileName::combine(VFileName::directory(moduleName(nullptr)), L"loghost.exe")) + "'";
}

UnixRun runUnixScript(const std::wstring& folder, const std::string& script, int waitSeconds) {
  static int runs = 0;
  const std::wstring run = folder + L"\\run" + std::to_wstring(++runs);
  CreateDirectoryW(run.c_str(), nullptr);
  const std::string here = unixPath(run);
  writeFile(run + L"\\run.sh", "cd '" + here + "' && { " + script + "\n} >out 2>err </dev/null; echo $? >rc.part; mv rc.part rc\n");
  std::wstring command = L"Z:\\bin\\sh " + std::wstring(here.begin(), here.end()) + L"/run.sh";
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  UnixRun result;
  if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    return result;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  for (int wait = 0; wait < waitSeconds * 10 && GetFileAttributesW((run + L"\\rc").c_str()) == INVALID_FILE_ATTRIBUTES;
       ++wait) {
    Sleep(100);
  }
  const std::string rc = readBytes(run + L"\\rc");
  if (!rc.empty()) result.exitCode = std::stoi(rc);
  result.out = readBytes(run + L"\\out");
  result.err = readBytes(run + L"\\err");
  return result;
}

UnixRun runLogHostUnix(const std::wstring& folder, const std::string& environment, const std::string& arguments) {
  return runUnixScript(folder, "env " + environment + " " + logHostUnixCommand() + " " + arguments, 120);
}

std::wstring todaysLogFile(const std::wstring& root, const std::wstring& name) {
  return root + L"\\admin\\logs\\kestrinlog_" + name + VDateTime().dateStamp() + L".log";
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

std::wstring fromUtf16(const std::string& bytes) {
  std::wstring text(bytes.size() / 2, L'\0');
  for (size_t i = 0; i < text.size(); ++i) {
    text[i] = static_cast<wchar_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                   (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
  }
  return text;
}

void removeKestrinEventLog() {
  // A test may have locked the source's key; its owner may always give the access back.
  HKEY source = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Kestrin\\loghost.exe", 0,
                    WRITE_DAC, &source) == ERROR_SUCCESS) {
    SECURITY_DESCRIPTOR open;
    InitializeSecurityDescriptor(&open, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&open, TRUE, nullptr, FALSE);
    RegSetKeySecurity(source, DACL_SECURITY_INFORMATION, &open);
    RegCloseKey(source);
  }
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Kestrin");
}
