#include "security/vsid.h"

#include <new>
#include <utility>

#include "diagnostics/vexception.h"
#include "platform/UniqueHandle.h"

namespace {

VSID wellKnown(SID_IDENTIFIER_AUTHORITY authority, BYTE count, DWORD first, DWORD second,
               const char* function) {
  UniqueSid sid;
  if (!AllocateAndInitializeSid(&authority, count, first, second, 0, 0, 0, 0, 0, 0, sid.put())) {
    throwLastError({function, __LINE__}, L"AllocateAndInitializeSid");
  }
  VSID result;
  result.sid = sid.release();
  result.isCopy = false;
  return result;
}

}  // namespace

VSID::VSID(PSID raw) {
  if (raw == nullptr || !IsValidSid(raw)) return;
  const DWORD length = GetLengthSid(raw);
  if (length == 0) return;
  BYTE* buffer = new (std::nothrow) BYTE[length];
  if (buffer == nullptr) return;
  if (!CopySid(length, buffer, raw)) {
    delete[] buffer;
    return;
  }
  sid = buffer;
}

VSID::VSID(VSID&& other) noexcept
    : sid(std::exchange(other.sid, nullptr)), isCopy(std::exchange(other.isCopy, true)) {}

VSID& VSID::operator=(VSID&& other) noexcept {
  if (this != &other) {
    release();
    sid = std::exchange(other.sid, nullptr);
    isCopy = std::exchange(other.isCopy, true);
  }
  return *this;
}

VSID::~VSID() { release(); }

void VSID::release() {
  if (sid == nullptr) return;
  if (isCopy) {
    delete[] static_cast<BYTE*>(sid);
  } else {
    UniqueSid(sid).reset();
  }
  sid = nullptr;
  isCopy = true;
}

VSID VSID::admins() {
  return wellKnown(SECURITY_NT_AUTHORITY, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS,
                   KESTRIN_FUNCTION);
}

VSID VSID::everyone() {
  return wellKnown(SECURITY_WORLD_SID_AUTHORITY, 1, SECURITY_WORLD_RID, 0, KESTRIN_FUNCTION);
}

VSID VSID::system() {
  return wellKnown(SECURITY_NT_AUTHORITY, 1, SECURITY_LOCAL_SYSTEM_RID, 0, KESTRIN_FUNCTION);
}
