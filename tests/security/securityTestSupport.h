#pragma once
// Shared helpers of the security tests: SIDs from and as their string form, ACEs as text and
// ACLs from it, and a fresh registry key.

#include <windows.h>

#include <aclapi.h>
#include <gtest/gtest.h>
#include <sddl.h>

#include <cwchar>
#include <sstream>
#include <string>
#include <vector>

#include "security/access.h"
#include "security/acl.h"
#include "security/runtimeSid.h"

inline RunTime::Sid sidFromString(const std::wstring& text) {
  PSID raw = nullptr;
  ConvertStringSidToSidW(text.c_str(), &raw);
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

// An ACE as type/flags/mask/SID, the mask in hex.
inline std::wstring aceText(const RunTime::Ace& ace) {
  std::wostringstream text;
  text << int{ace.header()->AceType} << L'/' << int{ace.header()->AceFlags} << L"/0x" << std::hex << ace.mask() << L'/'
       << sidString(ace.sid());
  return text.str();
}

using Aces = std::vector<std::wstring>;

// Each ACE of acl as aceText, in order.
inline Aces describe(const RunTime::Acl& acl) {
  Aces result;
  for (auto it = acl.begin(); it != acl.end(); ++it) result.push_back(aceText(*it));
  return result;
}

// An ACL of the given entries in aceText form, each added on its own.
inline RunTime::Acl aclOf(std::initializer_list<std::wstring> entries) {
  RunTime::Acl acl;
  acl.clear();
  for (const std::wstring& entry : entries) {
    unsigned type = 0, flags = 0;
    unsigned long mask = 0;
    wchar_t sid[128] = {};
    swscanf(entry.c_str(), L"%u/%u/%lx/%127ls", &type, &flags, &mask, sid);
    RunTime::Ace ace;
    ace.init(static_cast<uint8_t>(type), static_cast<uint8_t>(flags), mask, sidFromString(sid));
    acl.add(&ace, 1);
  }
  return acl;
}

// A new key under HKEY_CURRENT_USER\Software with descriptor's owner and DACL (or the default
// ones). The system enforces key DACLs: the destructor first opens the key to everyone.
class TempKey {
 public:
  explicit TempKey(PSECURITY_DESCRIPTOR descriptor = nullptr)
      : subKey(L"Software\\kestrin-security-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
               std::to_wstring(GetTickCount64()) + L"-" + std::to_wstring(++serial)),
        name(L"CURRENT_USER\\" + subKey) {
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, subKey.c_str(), 0, nullptr, 0, KEY_READ | WRITE_DAC | WRITE_OWNER,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    // Wine's RegCreateKeyExW ignores security attributes; a foreign owner takes SeRestorePrivilege.
    if (descriptor != nullptr && RunTime::Access::privilegeExist(L"SeRestorePrivilege")) {
      RunTime::Access::enablePrivilege(L"SeRestorePrivilege");
    }
    if (descriptor != nullptr) {
      EXPECT_TRUE(SetKernelObjectSecurity(key, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, descriptor));
    }
    RegCloseKey(key);
  }
  ~TempKey() {
    SetNamedSecurityInfoW(name.data(), SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr, nullptr);
    RegDeleteKeyW(HKEY_CURRENT_USER, subKey.c_str());
  }
  TempKey(const TempKey&) = delete;
  TempKey& operator=(const TempKey&) = delete;

  std::wstring subKey;  // under HKEY_CURRENT_USER
  std::wstring name;    // as the named-security functions take it

 private:
  static inline int serial = 0;
};
