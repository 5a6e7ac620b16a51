#include "security/acl.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <new>

#include "diagnostics/vexception.h"
#include "platform/formatString.h"

namespace RunTime {

namespace {

constexpr DWORD kInitialSize = 268;

ACL_SIZE_INFORMATION sizeInformation(const ACL* acl, const char* function) {
  ACL_SIZE_INFORMATION info{};
  if (!GetAclInformation(const_cast<PACL>(acl), &info, sizeof info, AclSizeInformation)) {
    throwLastError({function, __LINE__}, L"Unable to get ACL size");
  }
  return info;
}

const ACE_HEADER* rawAce(const ACL* acl, DWORD index, const std::wstring& text, const char* function) {
  void* ace = nullptr;
  if (!GetAce(const_cast<PACL>(acl), index, &ace)) {
    throwLastError({function, __LINE__}, text);
  }
  return static_cast<const ACE_HEADER*>(ace);
}

// 0..3 for explicit deny, deny-object, allow, allow-object; +4 when inherited; -1 otherwise.
int orderClass(const ACE_HEADER* ace) {
  static const uint8_t order[] = {ACCESS_DENIED_ACE_TYPE, ACCESS_DENIED_OBJECT_ACE_TYPE,
                                  ACCESS_ALLOWED_ACE_TYPE, ACCESS_ALLOWED_OBJECT_ACE_TYPE};
  for (int i = 0; i < 4; ++i) {
    if (order[i] == ace->AceType) return i + ((ace->AceFlags & INHERITED_ACE) ? 4 : 0);
  }
  return -1;
}

// Appends, then moves the ACE to index: Wine's AddAce ignores the starting index, so the
// placement is done here on every system.
void addAt(PACL acl, DWORD index, const ACE_HEADER* ace, const char* function) {
  const DWORD count = acl->AceCount;
  if (!AddAce(acl, ACL_REVISION, MAXDWORD, const_cast<ACE_HEADER*>(ace), ace->AceSize)) {
    throwLastError({function, __LINE__}, L"Unable to add ACE to ACL");
  }
  if (index >= count) return;
  void* target = nullptr;
  void* added = nullptr;
  if (!GetAce(acl, index, &target) || !GetAce(acl, count, &added)) {
    throwLastError({function, __LINE__}, L"Unable to add ACE to ACL");
  }
  auto* first = static_cast<BYTE*>(target);
  auto* middle = static_cast<BYTE*>(added);
  std::rotate(first, middle, middle + static_cast<const ACE_HEADER*>(added)->AceSize);
}

// A copy in the source's own order (a source Acl is canonical already), so that a removal only
// removes: copy() reverses each order class, and the order a DACL is finally written in would
// hang on how many removals it went through, that is on the number of the caller's groups.
Acl copyOf(const Acl& source) {
  Acl result;
  result.clear();
  result.expand(source.get(), nullptr, 0);
  const DWORD count = sizeInformation(source.get(), "RunTime::Acl::copy").AceCount;
  for (DWORD i = 0; i < count; ++i) {
    addAt(result.get(), MAXDWORD, rawAce(source.get(), i, L"Unable to get ACL ACE", "RunTime::Acl::copy"),
          "RunTime::Acl::copy");
  }
  return result;
}

}  // namespace

void Acl::install(DWORD size, const char* function) {
  std::unique_ptr<BYTE[]> buffer(new (std::nothrow) BYTE[size]);
  if (!buffer) throw vexception(L"Unable to allocate new ACL", SiteName{function, __LINE__});
  acl = std::move(buffer);
  valid = true;
  if (!InitializeAcl(get(), size, ACL_REVISION)) {
    throwLastError({function, __LINE__}, L"Unable to initialize ACL");
  }
}

void Acl::clear() { install(kInitialSize, KESTRIN_FUNCTION); }

void Acl::copy(const ACL* source) {
  const auto sourceInfo = sizeInformation(source, KESTRIN_FUNCTION);
  const DWORD sourceSize = sourceInfo.AclBytesInUse + sourceInfo.AclBytesFree;
  DWORD ownSize = 0;
  if (valid) {
    const auto ownInfo = sizeInformation(get(), KESTRIN_FUNCTION);
    ownSize = ownInfo.AclBytesInUse + ownInfo.AclBytesFree;
  }
  if (sourceSize <= ownSize) {
    if (!InitializeAcl(get(), ownSize, ACL_REVISION)) {
      throwLastError(KESTRIN_SITE, L"Unable to initialize ACL");
    }
  } else {
    install(sourceSize, KESTRIN_FUNCTION);
  }
  add(source);
}

void Acl::add(const ACL* source) {
  const auto info = sizeInformation(source, KESTRIN_FUNCTION);
  for (DWORD i = 0; i < info.AceCount; ++i) {
    const ACE_HEADER* ace = rawAce(source, i, L"Unable to get ACL ACE", KESTRIN_FUNCTION);
    addAt(get(), getInsertionIndex(ace), ace, KESTRIN_FUNCTION);
  }
}

void Acl::add(const Ace* aces, DWORD count) {
  expand(nullptr, aces, count);
  for (DWORD i = 0; i < count; ++i) {
    if (findAce(aces[i], 0) >= 0) continue;
    addAt(get(), getInsertionIndex(aces[i].header()), aces[i].header(), KESTRIN_FUNCTION);
  }
}

uint32_t Acl::calculateSize(const ACL* other, const Ace* aces, DWORD count) const {
  uint32_t size = 8;
  if (valid) size += sizeInformation(get(), KESTRIN_FUNCTION).AclBytesInUse;
  if (other != nullptr) size += sizeInformation(other, KESTRIN_FUNCTION).AclBytesInUse;
  for (DWORD i = 0; aces != nullptr && i < count; ++i) size += aces[i].header()->AceSize;
  return size;
}

void Acl::expand(const ACL* other, const Ace* aces, DWORD count) {
  const auto info = sizeInformation(get(), KESTRIN_FUNCTION);
  const uint32_t need = calculateSize(other, aces, count);
  if (need <= info.AclBytesInUse + info.AclBytesFree) return;
  const std::unique_ptr<BYTE[]> old = std::move(acl);
  install(2 * need, KESTRIN_FUNCTION);
  // Moved in their order, unlike add, so that growing keeps the newest ACE of a class first.
  const auto* source = reinterpret_cast<const ACL*>(old.get());
  for (DWORD i = 0; i < info.AceCount; ++i) {
    addAt(get(), MAXDWORD, rawAce(source, i, L"Unable to get ACL ACE", KESTRIN_FUNCTION), KESTRIN_FUNCTION);
  }
}

int Acl::findAce(const Ace& ace, DWORD start) const {
  const DWORD count = sizeInformation(get(), KESTRIN_FUNCTION).AceCount;
  const Ace wanted(ace.header());
  const DWORD offset = wanted.sidOffset();
  for (DWORD i = start; i < count; ++i) {
    const Ace candidate(rawAce(get(), i, L"Unable to get ACL ACE", KESTRIN_FUNCTION));
    if (candidate.header()->AceType != wanted.header()->AceType) continue;
    if (std::memcmp(candidate.ace.get(), wanted.ace.get(), offset) == 0 && EqualSid(candidate.sid(), wanted.sid())) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

int Acl::findSid(PSID sid, DWORD start) const {
  const DWORD count = sizeInformation(get(), KESTRIN_FUNCTION).AceCount;
  for (DWORD i = start; i < count; ++i) {
    const Ace candidate(rawAce(get(), i, L"Unable to get ACL ACE", KESTRIN_FUNCTION));
    if (EqualSid(candidate.sid(), sid)) return static_cast<int>(i);
  }
  return -1;
}

Ace Acl::getAce(DWORD index) const {
  return Ace(rawAce(get(), index, formatString(L"Unable to get ACL ACE (%d)", static_cast<int>(index)),
                    KESTRIN_FUNCTION));
}

void Acl::deleteAce(DWORD index) {
  if (!DeleteAce(get(), index)) {
    throwLastError(KESTRIN_SITE,
                   [&] { return formatString(L"Unable to delete ACL ACE (%d)", static_cast<int>(index)); });
  }
}

DWORD Acl::aceCount() const { return sizeInformation(get(), KESTRIN_FUNCTION).AceCount; }

Acl::iterator Acl::end() const { return iterator(this, sizeInformation(get(), KESTRIN_FUNCTION).AceCount); }

DWORD Acl::getInsertionIndex(const ACE_HEADER* ace) const {
  const int newClass = orderClass(ace);
  if (newClass < 0) {
    throwOSError(L"Invalid ACE type", ERROR_INVALID_PARAMETER,
                 KESTRIN_SITE);
  }
  const DWORD count = sizeInformation(get(), KESTRIN_FUNCTION).AceCount;
  for (DWORD i = 0; i < count; ++i) {
    const int existing = orderClass(rawAce(get(), i, L"Unable to get ACL ACE", KESTRIN_FUNCTION));
    if (existing < 0) {
      throwOSError(L"Unsupported ACE type in ACL", ERROR_INVALID_PARAMETER,
                   KESTRIN_SITE);
    }
    if (existing >= newClass) return i;
  }
  return count;
}

Acl Acl::removeSidEntries(const Acl& source, PSID sid, bool denyOnly) {
  Acl result = copyOf(source);
  int i = result.findSid(sid, 0);
  while (i >= 0) {
    const uint8_t type = result.getAce(static_cast<DWORD>(i)).header()->AceType;
    if (!denyOnly || type == ACCESS_DENIED_ACE_TYPE || type == ACCESS_DENIED_OBJECT_ACE_TYPE) {
      result.deleteAce(static_cast<DWORD>(i));
      i = result.findSid(sid, static_cast<DWORD>(i));
    } else {
      i = result.findSid(sid, static_cast<DWORD>(i) + 1);
    }
  }
  return result;
}

Acl Acl::removeUnmappedSids(const Acl& source) {
  Acl result = copyOf(source);
  for (DWORD i = 0; i < result.aceCount();) {
    Sid sid;
    sid.copy(result.getAce(i).sid());
    wchar_t name[32];
    wchar_t domain[32];
    DWORD nameLength = 32;
    DWORD domainLength = 32;
    SID_NAME_USE use;
    if (!LookupAccountSidW(nullptr, sid.get(), name, &nameLength, domain, &domainLength, &use) &&
        GetLastError() == ERROR_NONE_MAPPED) {
      result.deleteAce(i);
    } else {
      ++i;
    }
  }
  return result;
}

Acl Acl::mergeAceFlags(const Acl& source, MaskMap map) {
  std::map<Ace, uint8_t, AceLess> merged;
  for (auto it = source.begin(); it != source.end(); ++it) {
    Ace key = *it;
    const uint8_t flags = key.header()->AceFlags;
    key.header()->AceFlags = 0;
    if (map != nullptr) key.mask() = map(key.mask());
    const auto found = merged.find(key);
    if (found == merged.end()) {
      merged.emplace(std::move(key), flags);
      continue;
    }
    const bool bothInheritOnly = (found->second & INHERIT_ONLY_ACE) && (flags & INHERIT_ONLY_ACE);
    found->second |= flags;
    if (!bothInheritOnly) found->second &= static_cast<uint8_t>(~INHERIT_ONLY_ACE);
  }
  Acl result;
  result.clear();
  for (const auto& [key, flags] : merged) {
    Ace ace(key);
    ace.header()->AceFlags = flags;
    result.add(&ace, 1);
  }
  return result;
}

Acl Acl::mergeAccessMasks(const Acl& source, MaskMap map) {
  std::map<Ace, ACCESS_MASK, AceLess> merged;
  for (auto it = source.begin(); it != source.end(); ++it) {
    Ace key = *it;
    const ACCESS_MASK mask = map != nullptr ? map(key.mask()) : key.mask();
    key.mask() = 0;
    merged[std::move(key)] |= mask;
  }
  Acl result;
  result.clear();
  for (const auto& [key, mask] : merged) {
    Ace ace(key);
    ace.header()->AceFlags &= static_cast<uint8_t>(~INHERITED_ACE);
    ace.mask() = mask;
    result.add(&ace, 1);
  }
  return result;
}

Acl Acl::everyoneFullControl() {
  Acl result;
  result.clear();
  Ace ace;
  ace.init(ACCESS_ALLOWED_ACE_TYPE, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE, GENERIC_ALL, everyoneSid());
  result.add(&ace, 1);
  return result;
}

}  // namespace RunTime
