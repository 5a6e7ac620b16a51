#pragma once
// Security descriptors for objects the library creates (named mutexes, recycler folders),
// built from a short list of grants so that every account on the machine can open them.

#include <windows.h>

#include <aclapi.h>

#include <cstdint>
#include <vector>

#include "security/vsid.h"

// One grant. The trustee always points at this entry's own SID copy.
struct SecurityEntry {
  enum Kind : uint32_t { access = 1, owner = 2, group = 4 };

  SecurityEntry(PSID sid, ACCESS_MASK mask, DWORD inheritance, bool isGroup);
  SecurityEntry(const SecurityEntry& other);
  SecurityEntry& operator=(const SecurityEntry& other);

  uint32_t kind = access;
  VSID sid;
  EXPLICIT_ACCESS_W entry{};
};

class SecurityEntryList {
 public:
  SecurityEntryList operator+(const SecurityEntryList& other) const;

  std::vector<SecurityEntry> entries;
};

// A one-entry list: SET_ACCESS, inherited by files and folders.
SecurityEntryList grantEntry(const VSID& sid, ACCESS_MASK mask, bool isGroup);
SecurityEntryList grantEntryWithInheritance(const VSID& sid, ACCESS_MASK mask, DWORD inheritance, bool isGroup);

// Everyone, GENERIC_ALL: for named mutexes.
SecurityEntryList mutexSecurityEntries();
// Administrators and LocalSystem full control; Everyone may add and delete: for recycler folders.
SecurityEntryList recyclerSecurityEntries();

class SecurityDescriptor {
 public:
  SecurityDescriptor(const SecurityEntryList& list, bool inheritHandle);
  SecurityDescriptor(const SecurityDescriptor&) = delete;
  SecurityDescriptor& operator=(const SecurityDescriptor&) = delete;
  ~SecurityDescriptor();

  bool valid = false;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  SECURITY_ATTRIBUTES attributes{};
};
