#include "security/access.h"

#include "diagnostics/vexception.h"
#include "platform/UniqueHandle.h"
#include "platform/formatString.h"
#include "security/callerToken.h"

namespace RunTime {
namespace Access {

namespace {

constexpr wchar_t kTakeOwnership[] = L"SeTakeOwnershipPrivilege";
constexpr SECURITY_INFORMATION kProtectedDacl = DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION;

LUID lookupPrivilege(const wchar_t* name, const wchar_t* format, const char* function) {
  LUID luid{};
  if (!LookupPrivilegeValueW(nullptr, name, &luid)) {
    throwLastError({function, __LINE__}, [&] { return formatString(format, name); });
  }
  return luid;
}

DWORD setDacl(const wchar_t* path, SE_OBJECT_TYPE type, const Acl& acl) {
  return SetNamedSecurityInfoW(const_cast<wchar_t*>(path), type, kProtectedDacl, nullptr, nullptr, acl.get(),
                               nullptr);
}

}  // namespace

void enablePrivilege(const wchar_t* name) {
  const LUID luid = lookupPrivilege(name, L"Unable to find privilege (%s)", KESTRIN_FUNCTION);
  const TokenHandle token = openCallerToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, KESTRIN_FUNCTION);
  TOKEN_PRIVILEGES privileges{};
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Luid = luid;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  const BOOL adjusted = AdjustTokenPrivileges(token.get(), FALSE, &privileges, sizeof privileges, nullptr, nullptr);
  const DWORD error = GetLastError();
  // AdjustTokenPrivileges succeeds without assigning a privilege the token lacks.
  if (!adjusted || error != ERROR_SUCCESS) {
    throwOSError(formatString(L"Unable to adjust privilege (%s)", name), error, KESTRIN_SITE);
  }
}

bool privilegeExist(const wchar_t* name) {
  const LUID luid = lookupPrivilege(name, L"The privilege (%s) is not found", KESTRIN_FUNCTION);
  const TokenHandle token = openCallerToken(GetCurrentProcess(), TOKEN_QUERY, KESTRIN_FUNCTION);
  const auto buffer = tokenInformation(token.get(), TokenPrivileges, L"Unable to get token privileges", KESTRIN_FUNCTION);
  const auto* privileges = reinterpret_cast<const TOKEN_PRIVILEGES*>(buffer.get());
  for (DWORD i = 0; i < privileges->PrivilegeCount; ++i) {
    const LUID& held = privileges->Privileges[i].Luid;
    if (held.LowPart == luid.LowPart && held.HighPart == luid.HighPart) return true;
  }
  return false;
}

std::unique_ptr<BYTE[]> tokenGroups(HANDLE token) {
  return tokenInformation(token, TokenGroups, L"Unable to get token information", "RunTime::Access::tokenGroups");
}

std::unique_ptr<BYTE[]> processTokenGroups(HANDLE process) {
  const TokenHandle token = openCallerToken(process, TOKEN_READ, KESTRIN_FUNCTION);
  return tokenGroups(token.get());
}

Acl getSecurity(const wchar_t* path, SE_OBJECT_TYPE type) {
  PACL dacl = nullptr;
  UniqueLocal<void> descriptor;
  const DWORD result = GetNamedSecurityInfoW(const_cast<wchar_t*>(path), type, DACL_SECURITY_INFORMATION, nullptr,
                                             nullptr, &dacl, nullptr, descriptor.put());
  if (result != ERROR_SUCCESS) {
    throwOSError(formatString(L"Unable to get the object (%s) security info", displayPath(path)), result,
                 KESTRIN_SITE);
  }
  if (dacl == nullptr) return Acl::everyoneFullControl();
  Acl acl;
  acl.clear();
  acl.copy(dacl);
  return acl;
}

void setOwner(const wchar_t* path, SE_OBJECT_TYPE type) {
  if (privilegeExist(kTakeOwnership)) enablePrivilege(kTakeOwnership);
  const Sid owner = Sid::owner(GetCurrentProcess());
  const DWORD result = SetNamedSecurityInfoW(const_cast<wchar_t*>(path), type, OWNER_SECURITY_INFORMATION,
                                             owner.get(), nullptr, nullptr, nullptr);
  if (result != ERROR_SUCCESS) {
    throwOSError(formatString(L"Unable to set the object (%s) owner", displayPath(path)), result,
                 KESTRIN_SITE);
  }
}

void setSecurity(const wchar_t* path, SE_OBJECT_TYPE type, const Acl& source) {
  const Acl acl = Acl::removeUnmappedSids(source);
  DWORD result = setDacl(path, type, acl);
  if (result == ERROR_ACCESS_DENIED) {
    setOwner(path, type);
    result = setDacl(path, type, acl);
  }
  if (result != ERROR_SUCCESS) {
    throwOSError(formatString(L"Unable to set the object (%s) security info", displayPath(path)), result,
                 KESTRIN_SITE);
  }
}

Acl grantedAcl(const Acl& current, SE_OBJECT_TYPE type, ACCESS_MASK mask) {
  const Acl::MaskMap map = type == SE_FILE_OBJECT ? mapFileGenericRights : nullptr;
  const Acl cleaned = Acl::removeTokenDenials(Acl::mergeAccessMasks(Acl::mergeAceFlags(current, map), map));
  // The grants go in last so that, newest first, they lead the allow entries.
  Ace grants[2];
  grants[0].init(ACCESS_ALLOWED_ACE_TYPE, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE, mask, localSystemSid());
  grants[1].init(ACCESS_ALLOWED_ACE_TYPE, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE, mask,
                 Sid::owner(GetCurrentProcess()));
  Acl result;
  result.clear();
  result.copy(cleaned.get());
  result.add(grants, 2);
  return result;
}

void grantAccess(const wchar_t* path, SE_OBJECT_TYPE type, ACCESS_MASK mask) {
  setOwner(path, type);
  setSecurity(path, type, grantedAcl(getSecurity(path, type), type, mask));
}

}  // namespace Access

Acl Acl::removeTokenDenials(const Acl& source) {
  // Starting with a removal rather than copy() keeps the order of the entries that stay.
  Acl result = removeSidEntries(source, localSystemSid().get(), true);
  const auto strip = [&result](PSID sid) { result = removeSidEntries(result, sid, true); };
  const auto groups = Access::processTokenGroups(GetCurrentProcess());
  const auto* list = reinterpret_cast<const TOKEN_GROUPS*>(groups.get());
  for (DWORD i = 0; i < list->GroupCount; ++i) strip(list->Groups[i].Sid);
  const Sid user = Sid::current(GetCurrentProcess());
  strip(user.get());
  const Sid owner = Sid::owner(GetCurrentProcess());
  if (!EqualSid(owner.get(), user.get())) strip(owner.get());
  return result;
}

}  // namespace RunTime

ACCESS_MASK mapFileGenericRights(ACCESS_MASK mask) {
  static const ACCESS_MASK mapping[][2] = {{GENERIC_READ, FILE_GENERIC_READ},
                                           {GENERIC_WRITE, FILE_GENERIC_WRITE},
                                           {GENERIC_EXECUTE, FILE_GENERIC_EXECUTE},
                                           {GENERIC_ALL, FILE_ALL_ACCESS}};
  for (const auto& [generic, specific] : mapping) {
    if (mask & generic) mask = (mask & ~generic) | specific;
  }
  return mask;
}

std::wstring displayPath(const std::wstring& path) {
  static const std::wstring prefix = L"\\\\?\\";
  return path.compare(0, prefix.size(), prefix) == 0 ? path.substr(prefix.size()) : path;
}
