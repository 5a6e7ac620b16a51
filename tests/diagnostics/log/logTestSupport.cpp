#include "tests/diagnostics/log/logTestSupport.h"

#include "platform/VDateTime.h"
#include "platform/VFileName.h"
#include "platform/moduleName.h"

namespace {

const wchar_t* const kKey = L"SOFTWARE\\Kestrin\\Ondra Config\\Config";

HKEY openProductKey() {
  HKEY key = nullptr;
  RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY, nullptr, &key, nullptr);
  return key;
}

void removeTree(const std::wstring& folder) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = found.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring path = folder + L"\\" + name;
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        removeTree(path);
      } else {
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(path.c_str());
      }
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }
  RemoveDirectoryW(folder.c_str());
}

}  // namespace

ProductValues::~ProductValues() {
  HKEY key = openProductKey();
  for (const auto& [name, saved] : saved_) {
    if (saved.existed) {
      RegSetValueExW(key, name.c_str(), 0, saved.type, saved.data.data(), static_cast<DWORD>(saved.data.size()));
    } else {
      RegDeleteValueW(key, name.c_str());
    }
  }
  RegCloseKey(key);
}

void ProductValues::save(const std::wstring& name) {
  if (saved_.count(name) != 0) return;
  Saved saved;
  HKEY key = openProductKey();
  DWORD size = 0;
  if (RegQueryValueExW(key, name.c_str(), nullptr, &saved.type, nullptr, &size) == ERROR_SUCCESS) {
    saved.existed = true;
    saved.data.resize(size);
    RegQueryValueExW(key, name.c_str(), nullptr, &saved.type, saved.data.data(), &size);
  }
  RegCloseKey(key);
  saved_[name] = saved;
}

void ProductValues::setDword(const std::wstring& name, DWORD value) {
  save(name);
  HKEY key = openProductKey();
  RegSetValueExW(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
  RegCloseKey(key);
}

void ProductValues::setString(const std::wstring& name, const std::wstring& value) {
  save(name);
  HKEY key = openProductKey();
  RegSetValueExW(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                 static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(key);
}

void ProductValues::remove(const std::wstring& name) {
  save(name);
  HKEY key = openProductKey();
  RegDeleteValueW(key, name.c_str());
  RegCloseKey(key);
}

std::wstring makeProductRoot(ProductValues& values, const std::wstring& name) {
  CreateDirectoryW(L"C:\\kestrin-logtest", nullptr);
  const std::wstring root = L"C:\\kestrin-logtest\\" + name;
  removeTree(root);
  CreateDirectoryW(root.c_str(), nullptr);
  values.setString(L"PRODUCT_ROOT_D", root);
  return root;
}

ProcessResult runLogHost(const std::wstring& arguments) {
  return runProcess(VFileName::combine(VFileName::directory(moduleName(nullptr)), L"loghost.exe"), arguments);
}

namespace {

std::string unixPath(const std::wstring& path) {
  using ToUnix = char* (CDECL*)(const wchar_t*);
  const auto toUnix = reinterpret_cast<ToUnix>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  char* unix = toUnix != nullptr ? toUnix(path.c_str()) : nullptr;
  const std::string result = unix != nullptr ? unix : "";
  HeapFree(GetProcessHeap(), 0, unix);
  return result;
}

void writeFile(const std::wstring& path, const std::string& bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD written = 0;
  WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
}

}  // namespace

UnixRun runLogHostUnix(const std::wstring& folder, const std::string& environment, const std::string& arguments) {
  static int runs = 0;
  const std::wstring run = folder + L"\\run" + std::to_wstring(++runs);
  CreateDirectoryW(run.c_str(), nullptr);
  const std::string host = unixPath(VFileName::combine(VFileName::directory(moduleName(nullptr)), L"loghost.exe"));
  const std::string here = unixPath(run);
  writeFile(run + L"\\run.sh", "cd '" + here + "' && env " + environment + " /bin/bash '" KESTRIN_SOURCE_DIR
                                    "/scripts/wine-run.sh' '" + host + "' " + arguments +
                                    " >out 2>err </dev/null; echo $? >rc.part; mv rc.part rc\n");
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
  for (int wait = 0; wait < 1200 && GetFileAttributesW((run + L"\\rc").c_str()) == INVALID_FILE_ATTRIBUTES; ++wait) {
    Sleep(100);
  }
  const std::string rc = readBytes(run + L"\\rc");
  if (!rc.empty()) result.exitCode = std::stoi(rc);
  result.out = readBytes(run + L"\\out");
  result.err = readBytes(run + L"\\err");
  return result;
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
