#include "security/runtimeSid.h"

#include <new>

#include "diagnostics/vexception.h"
#include "platform/formatString.h"
#include "security/callerToken.h"

namespace RunTime {

namespace {

Sid tokenSid(HANDLE process, TOKEN_INFORMATION_CLASS kind, const char* function) {
  const TokenHandle token = openCallerToken(process, TOKEN_READ, function);
  const auto buffer = tokenInformation(token.get(), kind, L"Unable to get token information", function);
  Sid result;
  result.copy(kind == TokenUser ? reinterpret_cast<const TOKEN_USER*>(buffer.get())->User.Sid
                                : reinterpret_cast<const TOKEN_OWNER*>(buffer.get())->Owner);
  return result;
}

}  // namespace

std::unique_ptr<BYTE[]> Sid::allocSidBuffer(DWORD length) {
  std::unique_ptr<BYTE[]> buffer(new (std::nothrow) BYTE[length]);
  if (!buffer) {
    throw vexception(formatString(L"Unable to allocate (%d) bytes", static_cast<int>(length)),
                     KESTRIN_SITE);
  }
  return buffer;
}

void Sid::copy(PSID raw) {
  sid.reset();
  accountName.clear();
  domainName.clear();
  accountType = SidTypeUnknown;
  if (raw == nullptr) return;
  if (!IsValidSid(raw)) {
    throwLastError(KESTRIN_SITE, L"Invalid sid");
  }
  const DWORD length = GetLengthSid(raw);
  auto buffer = allocSidBuffer(length);
  if (!CopySid(length, buffer.get(), raw)) {
    throwLastError(KESTRIN_SITE, L"Unable to copy sid");
  }
  sid = std::move(buffer);
}

Sid::Sid(SID_IDENTIFIER_AUTHORITY authority, uint8_t count, const DWORD* values) {
  UniqueSid temporary;
  if (!AllocateAndInitializeSid(&authority, count, 0, 0, 0, 0, 0, 0, 0, 0, temporary.put())) {
    throwLastError(KESTRIN_SITE, L"Unable to allocate and initialize sid");
  }
  for (uint8_t i = 0; i < count; ++i) *GetSidSubAuthority(temporary.get(), i) = values[i];
  copy(temporary.get());
}

Sid Sid::current(HANDLE process) {
  return tokenSid(process, TokenUser, KESTRIN_FUNCTION);
}

Sid Sid::owner(HANDLE process) {
  return tokenSid(process, TokenOwner, KESTRIN_FUNCTION);
}

Sid localSystemSid() {
  const DWORD rid = SECURITY_LOCAL_SYSTEM_RID;
  return Sid(SECURITY_NT_AUTHORITY, 1, &rid);
}

Sid everyoneSid() {
  const DWORD rid = SECURITY_WORLD_RID;
  return Sid(SECURITY_WORLD_SID_AUTHORITY, 1, &rid);
}

}  // namespace RunTime
