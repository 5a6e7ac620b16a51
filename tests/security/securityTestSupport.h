#pragma once
// SIDs and ACEs as text, and ACLs from that text, for the security tests.

#include "security/access.h"

#include <gtest/gtest.h>
#include <sddl.h>

#include <cwchar>
#include <sstream>
#include <vector>

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

using Aces = std::vector<std::wstring>;

// Each ACE of acl in its stored order as type/flags/mask/SID, the mask in hex.
inline Aces describe(const ACL* acl) {
  Aces result;
  for (DWORD i = 0; acl != nullptr && i < acl->AceCount; ++i) {
    void* raw = nullptr;
    GetAce(const_cast<PACL>(acl), i, &raw);
    const RunTime::Ace ace(static_cast<ACE_HEADER*>(raw));
    std::wostringstream text;
    text << int{ace.header()->AceType} << L'/' << int{ace.header()->AceFlags} << L"/0x" << std::hex << ace.mask()
         << L'/' << sidString(ace.sid());
    result.push_back(text.str());
  }
  return result;
}
inline Aces describe(const RunTime::Acl& acl) { return describe(acl.get()); }

// An ACL of the given entries in describe's form, each added on its own.
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
