#include "platform/VMutex.h"

#include "diagnostics/vexception.h"
#include "platform/formatString.h"
#include "security/securityDescriptor.h"

namespace {

// Fixed sites: the product's logs and other modules know these lines, whatever the source's own.
constexpr SiteName kCreateNamedSite{"VMutex::VMutex", 194};
constexpr SiteName kCreateUnnamedSite{"VMutex::VMutex", 197};
constexpr SiteName kUnlockSite{"VMutex::unlock", 234};

}  // namespace

VMutex::VMutex(bool initialOwner, const wchar_t* name) {
  SecurityDescriptor security(mutexSecurityEntries(), false);
  handle.reset(CreateMutexW(&security.attributes, initialOwner ? TRUE : FALSE, name));
  if (handle) return;
  if (name != nullptr) {
    throwLastError(kCreateNamedSite, [name] { return formatString(L"Create mutex with name '%s'", name); });
  }
  throwLastError(kCreateUnnamedSite, L"Create mutex");
}

VMutex::~VMutex() = default;

bool VMutex::unlock() {
  if (!ReleaseMutex(handle.get())) throwLastError(kUnlockSite, L"ReleaseMutex");
  return true;
}
