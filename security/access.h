#pragma once
// Object security: privileges and token queries of the caller, and the take-over of a file's
// ownership and DACL before a stubborn delete. Every failure raises.

#include <windows.h>

#include <aclapi.h>

#include <memory>
#include <string>

#include "security/acl.h"

namespace RunTime {
namespace Access {

// Enables name in the thread token, or the process token when the thread has none.
void enablePrivilege(const wchar_t* name);
// True when name is in the thread or process token, enabled or not.
bool privilegeExist(const wchar_t* name);
// The TOKEN_GROUPS of token, in a buffer the caller owns.
std::unique_ptr<BYTE[]> tokenGroups(HANDLE token);
// tokenGroups of the token acting for process.
std::unique_ptr<BYTE[]> processTokenGroups(HANDLE process);
// The object's DACL, canonical; a null DACL reads as Everyone full control.
Acl getSecurity(const wchar_t* path, SE_OBJECT_TYPE type);
// Makes the caller's token owner the object's owner.
void setOwner(const wchar_t* path, SE_OBJECT_TYPE type);
// Writes acl, without unmapped SIDs, as the object's protected DACL.
void setSecurity(const wchar_t* path, SE_OBJECT_TYPE type, const Acl& acl);
// The DACL grantAccess writes over current: current's entries merged, made explicit and without
// deny entries for the caller, with the two grants leading the allow entries.
Acl grantedAcl(const Acl& current, SE_OBJECT_TYPE type, ACCESS_MASK mask);
// Takes ownership and grants mask to the caller's token owner and LocalSystem, after removing
// the deny entries that name the caller.
void grantAccess(const wchar_t* path, SE_OBJECT_TYPE type, ACCESS_MASK mask);

}  // namespace Access
}  // namespace RunTime

// Generic rights replaced by the file rights they stand for.
ACCESS_MASK mapFileGenericRights(ACCESS_MASK mask);
// The path as shown in messages: without a leading "\\?\".
std::wstring displayPath(const std::wstring& path);
