#include "security/securityDescriptor.h"

#include "diagnostics/vexception.h"
#include "platform/UniqueHandle.h"

namespace {


}  // namespace

SecurityEntry::SecurityEntry(PSID raw, ACCESS_MASK mask, DWORD inheritance, bool isGroup) : sid(raw) {
  entry.grfAccessPermissions = mask;
  entry.grfAccessMode = SET_ACCESS;
  entry.grfInheritance = inheritance;
  entry.Trustee.TrusteeForm = TRUSTEE_IS_SID;
  entry.Trustee.TrusteeType = isGroup ? TRUSTEE_IS_GROUP : TRUSTEE_IS_USER;
  entry.Trustee.ptstrName = static_cast<LPWSTR>(sid.sid);
}

SecurityEntry::SecurityEntry(const SecurityEntry& other) : kind(other.kind), sid(other.sid.sid), entry(other.entry) {
  entry.Trustee.ptstrName = static_cast<LPWSTR>(sid.sid);
}

SecurityEntry& SecurityEntry::operator=(const SecurityEntry& other) {
  if (this != &other) {
    kind = other.kind;
    sid = VSID(other.sid.sid);
    entry = other.entry;
    entry.Trustee.ptstrName = static_cast<LPWSTR>(sid.sid);
  }
  return *this;
}

SecurityEntryList SecurityEntryList::operator+(const SecurityEntryList& other) const {
  SecurityEntryList result = *this;
  result.entries.insert(result.entries.end(), other.entries.begin(), other.entries.end());
  return result;
}

SecurityEntryList grantEntryWithInheritance(const VSID& sid, ACCESS_MASK mask, DWORD inheritance, bool isGroup) {
  SecurityEntryList list;
  list.entries.emplace_back(sid.sid, mask, inheritance, isGroup);
  return list;
}

SecurityEntryList grantEntry(const VSID& sid, ACCESS_MASK mask, bool isGroup) {
  return grantEntryWithInheritance(sid, mask, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE, isGroup);
}

SecurityEntryList mutexSecurityEntries() { return grantEntry(VSID::everyone(), GENERIC_ALL, true); }

SecurityEntryList recyclerSecurityEntries() {
  return grantEntry(VSID::admins(), GENERIC_ALL, false) + grantEntry(VSID::system(), GENERIC_ALL, false) +
         grantEntryWithInheritance(VSID::everyone(), 0x1300E7, CONTAINER_INHERIT_ACE, false) +
         grantEntryWithInheritance(VSID::everyone(), 0x130080, OBJECT_INHERIT_ACE | INHERIT_ONLY_ACE, false);
}

SecurityDescriptor::SecurityDescriptor(const SecurityEntryList& list, bool inheritHandle) {
  std::vector<EXPLICIT_ACCESS_W> grants;
  PSID owner = nullptr;
  PSID group = nullptr;
  for (const SecurityEntry& e : list.entries) {
    if (e.kind == SecurityEntry::access) grants.push_back(e.entry);
    if (e.kind == SecurityEntry::owner) owner = e.sid.sid;
    if (e.kind == SecurityEntry::group) group = e.sid.sid;
  }
  // Owned here until the descriptor is complete, so that every failure frees both blocks.
  UniqueLocal<ACL> ownedDacl;
  const DWORD result = SetEntriesInAclW(static_cast<ULONG>(grants.size()), grants.data(), nullptr, ownedDacl.put());
  if (result != ERROR_SUCCESS) throwOSError(L"SetEntriesInAcl", result, KESTRIN_SITE);
  UniqueLocal<void> ownedDescriptor(LocalAlloc(LMEM_FIXED, SECURITY_DESCRIPTOR_MIN_LENGTH));
  if (!ownedDescriptor) throw vexception(L"Out of memory", KESTRIN_SITE);
  if (!InitializeSecurityDescriptor(ownedDescriptor.get(), SECURITY_DESCRIPTOR_REVISION)) {
    throwLastError(KESTRIN_SITE, L"InitializeSecurityDescriptor");
  }
  if (!SetSecurityDescriptorDacl(ownedDescriptor.get(), TRUE, ownedDacl.get(), FALSE)) {
    throwLastError(KESTRIN_SITE, L"SetSecurityDescriptorDacl");
  }
  if (owner != nullptr && !SetSecurityDescriptorOwner(ownedDescriptor.get(), owner, FALSE)) {
    throwLastError(KESTRIN_SITE, L"SetSecurityDescriptorOwner");
  }
  if (group != nullptr && !SetSecurityDescriptorGroup(ownedDescriptor.get(), group, FALSE)) {
    throwLastError(KESTRIN_SITE, L"SetSecurityDescriptorGroup");
  }
  dacl = ownedDacl.release();
  descriptor = ownedDescriptor.release();
  attributes.nLength = sizeof attributes;
  attributes.lpSecurityDescriptor = descriptor;
  attributes.bInheritHandle = inheritHandle;
  valid = true;
}

SecurityDescriptor::~SecurityDescriptor() {
  const UniqueLocal<ACL> ownedDacl(valid ? dacl : nullptr);
  const UniqueLocal<void> ownedDescriptor(descriptor);
}
