#pragma once
// Shared helpers of the security tests: SIDs from their string form, descriptors as text, and
// a fresh folder or registry key.

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <string>

#include "security/access.h"
#include "security/runtimeSid.h"
#include "tests/driver/childProcess.h"

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

// Owner and DACL of descriptor in SDDL, for messages.
inline std::wstring sddlText(PSECURITY_DESCRIPTOR descriptor) {
  wchar_t* text = nullptr;
  if (!ConvertSecurityDescriptorToStringSecurityDescriptorW(
          descriptor, SDDL_REVISION_1, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &text, nullptr)) {
    return L"<no text>";
  }
  std::wstring result(text);
  LocalFree(text);
  return result;
}

// A new folder under the temporary path, removed with its files at the end of the test.
struct TempFolder : ScratchFolder {
  TempFolder() : ScratchFolder(L"kestrin-security-") {}
  // Makes an empty file name in the folder and returns its path.
  std::wstring file(const wchar_t* name) const {
    const std::wstring full = path + L"\\" + name;
    CloseHandle(CreateFileW(full.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    return full;
  }
};

// A new key under HKEY_CURRENT_USER\Software with descriptor's owner and DACL (or the default ones).
// The system enforces key DACLs, so the destructor first gives the caller's user full control.
class TempKey {
 public:
  explicit TempKey(PSECURITY_DESCRIPTOR descriptor = nullptr) {
    subKey = L"Software\\kestrin-security-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
             std::to_wstring(GetTickCount64()) + L"-" + std::to_wstring(++serial());
    name = L"CURRENT_USER\\" + subKey;
    HKEY key = nullptr;
    created = RegCreateKeyExW(HKEY_CURRENT_USER, subKey.c_str(), 0, nullptr, 0, KEY_READ | WRITE_DAC | WRITE_OWNER,
                              nullptr, &key, nullptr);
    if (created != ERROR_SUCCESS) return;
    // Written afterwards: Wine's RegCreateKeyExW ignores the security attributes. Naming an
    // owner outside the caller's token takes SeRestorePrivilege on Windows.
    if (descriptor != nullptr && RunTime::Access::privilegeExist(L"SeRestorePrivilege")) {
      RunTime::Access::enablePrivilege(L"SeRestorePrivilege");
    }
    if (descriptor != nullptr &&
        !SetKernelObjectSecurity(key, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, descriptor)) {
      created = static_cast<LSTATUS>(GetLastError());
    }
    RegCloseKey(key);
  }
  ~TempKey() {
    if (created != ERROR_SUCCESS) return;
    const RunTime::Sid user = RunTime::Sid::current(GetCurrentProcess());
    EXPLICIT_ACCESSW all{};
    BuildExplicitAccessWithNameW(&all, nullptr, KEY_ALL_ACCESS, SET_ACCESS, NO_INHERITANCE);
    all.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    all.Trustee.ptstrName = static_cast<LPWSTR>(user.get());
    PACL dacl = nullptr;
    if (SetEntriesInAclW(1, &all, nullptr, &dacl) == ERROR_SUCCESS) {
      SetNamedSecurityInfoW(const_cast<wchar_t*>(name.c_str()), SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr,
                            nullptr, dacl, nullptr);
      LocalFree(dacl);
    }
    RegDeleteKeyW(HKEY_CURRENT_USER, subKey.c_str());
  }
  TempKey(const TempKey&) = delete;
  TempKey& operator=(const TempKey&) = delete;

  LSTATUS created = ERROR_INVALID_FUNCTION;
  std::wstring subKey;  // under HKEY_CURRENT_USER
  std::wstring name;    // as the named-security functions take it

 private:
  static int& serial() {
    static int count = 0;
    return count;
  }
};
