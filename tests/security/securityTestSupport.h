#pragma once
// Shared helpers of the security tests: SIDs from their string form and a fresh folder.

#include <windows.h>

#include <sddl.h>

#include <string>

#include "security/runtimeSid.h"

inline RunTime::Sid sidFromString(const wchar_t* text) {
  PSID raw = nullptr;
  ConvertStringSidToSidW(text, &raw);
  RunTime::Sid sid;
  sid.copy(raw);
  LocalFree(raw);
  return sid;
}

inline std::wstring sidString(PSID sid) {
  wchar_t* text = nullptr;
  if (!ConvertSidToStringSidW(sid, &text)) return L"<invalid>";
  std::wstring result(text);
  LocalFree(text);
  return result;
}

// A new folder under the temporary path, removed with its files at the end of the test.
class TempFolder {
 public:
  TempFolder() {
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    path = std::wstring(base) + L"kestrin-security-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
           std::to_wstring(GetTickCount64());
    CreateDirectoryW(path.c_str(), nullptr);
  }
  ~TempFolder() {
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
      do {
        const std::wstring name = data.cFileName;
        if (name == L"." || name == L"..") continue;
        const std::wstring full = path + L"\\" + name;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
          RemoveDirectoryW(full.c_str());
        } else {
          DeleteFileW(full.c_str());
        }
      } while (FindNextFileW(find, &data));
      FindClose(find);
    }
    RemoveDirectoryW(path.c_str());
  }
  std::wstring file(const wchar_t* name) const {
    const std::wstring full = path + L"\\" + name;
    HANDLE h = CreateFileW(full.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    CloseHandle(h);
    return full;
  }

  std::wstring path;
};
