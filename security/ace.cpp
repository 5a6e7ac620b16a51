#include "security/ace.h"

#include <cstring>
#include <new>

#include "diagnostics/vexception.h"
#include "platform/formatString.h"

namespace RunTime {

namespace {

constexpr DWORD kObjectFlagsOffset = 8;
constexpr DWORD kObjectTypeOffset = 12;
constexpr DWORD kInheritedObjectTypeOffset = 28;
constexpr DWORD kBothGuidsPresent = ACE_OBJECT_TYPE_PRESENT | ACE_INHERITED_OBJECT_TYPE_PRESENT;

bool isObjectType(uint8_t type) { return type >= 5 && type <= 8; }

const BYTE* objectField(const Ace& ace, DWORD offset, const char* function) {
  if (!isObjectType(ace.header()->AceType)) {
    throw vexception(L"Not X_X_OBJECT_ACE_TYPE", SiteName{function, __LINE__});
  }
  return ace.ace.get() + offset;
}

GUID readGuid(const BYTE* at) {
  GUID guid;
  std::memcpy(&guid, at, sizeof guid);
  return guid;
}

}  // namespace

DWORD Ace::getSidOffset(uint8_t type) {
  if (type <= 3) return 8;
  if (isObjectType(type)) return 44;
  throw vexception(formatString(L"Unsupported ACE type (%d)", static_cast<int>(type)),
                   KESTRIN_SITE);
}

DWORD Ace::sidOffset() const {
  const uint8_t type = header()->AceType;
  const DWORD offset = getSidOffset(type);
  if (isObjectType(type)) {
    DWORD flags;
    std::memcpy(&flags, ace.get() + kObjectFlagsOffset, sizeof flags);
    if ((flags & kBothGuidsPresent) != kBothGuidsPresent) {
      throw vexception(formatString(L"Unsupported object ACE layout (object flags %d)", static_cast<int>(flags)),
                       KESTRIN_SITE);
    }
  }
  return offset;
}

Ace::Ace(const ACE_HEADER* raw) : ace(new BYTE[raw->AceSize]), valid(true) {
  std::memcpy(ace.get(), raw, raw->AceSize);
}

Ace::Ace(const Ace& other) {
  Sid sid;
  sid.copy(other.sid());
  init(other.header()->AceType, other.header()->AceFlags, other.mask(), sid);
  if (isObjectType(other.header()->AceType)) {
    std::memcpy(ace.get() + kObjectFlagsOffset, other.ace.get() + kObjectFlagsOffset,
                getSidOffset(other.header()->AceType) - kObjectFlagsOffset);
  }
}

void Ace::init(uint8_t type, uint8_t flags, ACCESS_MASK mask, const Sid& sid) {
  const DWORD offset = getSidOffset(type);
  const DWORD length = GetLengthSid(sid.get());
  std::unique_ptr<BYTE[]> buffer(new (std::nothrow) BYTE[offset + length]());
  if (!buffer) throw vexception(L"Unable to allocate ACE", KESTRIN_SITE);
  ace = std::move(buffer);
  valid = true;
  if (!CopySid(length, ace.get() + offset, sid.get())) {
    throwLastError(KESTRIN_SITE, L"Unable to copy SID");
  }
  header()->AceType = type;
  header()->AceFlags = flags;
  header()->AceSize = static_cast<WORD>(offset + length);
  this->mask() = mask;
  if (isObjectType(type)) std::memcpy(ace.get() + kObjectFlagsOffset, &kBothGuidsPresent, sizeof(DWORD));
}

DWORD Ace::get_objectFlags() const {
  DWORD flags;
  std::memcpy(&flags, objectField(*this, kObjectFlagsOffset, "RunTime::Ace::get_objectFlags"), sizeof flags);
  return flags;
}

GUID Ace::get_objectType() const {
  return readGuid(objectField(*this, kObjectTypeOffset, "RunTime::Ace::get_objectType"));
}

GUID Ace::get_inheritedObjectType() const {
  return readGuid(objectField(*this, kInheritedObjectTypeOffset, "RunTime::Ace::get_inheritedObjectType"));
}

bool AceLess::operator()(const Ace& a, const Ace& b) const {
  const uint8_t typeA = a.header()->AceType;
  const uint8_t typeB = b.header()->AceType;
  if (typeA != typeB) return typeA < typeB;
  const DWORD offset = a.sidOffset();
  b.sidOffset();
  const int head = std::memcmp(a.ace.get(), b.ace.get(), offset);
  if (head != 0) return head < 0;
  const DWORD lengthA = GetLengthSid(a.sid());
  const DWORD lengthB = GetLengthSid(b.sid());
  if (lengthA != lengthB) return lengthA < lengthB;
  return std::memcmp(a.sid(), b.sid(), lengthA) < 0;
}

}  // namespace RunTime
