#include "security/removal/uniqueName.h"

#include <windows.h>

#include <rpc.h>

#include "diagnostics/vexception.h"
#include "platform/UniqueHandle.h"

namespace {

// Fixed sites: the product's logs and other modules know these lines, whatever the source's own.
constexpr SiteName kCreateSite{"RunTime::uniqueName", 26};
constexpr SiteName kTextSite{"RunTime::uniqueName", 31};

inline void freeRpcString(RPC_WSTR text) noexcept { RpcStringFreeW(&text); }
using UniqueRpcString = UniqueHandle<NullEmptyTraits<RPC_WSTR, freeRpcString>>;

}  // namespace

std::wstring RunTime::uniqueName(bool random) {
  UUID uuid;
  const RPC_STATUS created = random ? UuidCreate(&uuid) : UuidCreateSequential(&uuid);
  if (created != RPC_S_OK && created != RPC_S_UUID_LOCAL_ONLY) {
    throwOSError(L"Unable to create GUID", static_cast<uint32_t>(created), kCreateSite);
  }
  UniqueRpcString text;
  const RPC_STATUS converted = UuidToStringW(&uuid, text.put());
  if (converted != RPC_S_OK) throwOSError(L"Unable to create GUID", static_cast<uint32_t>(converted), kTextSite);
  return std::wstring(reinterpret_cast<const wchar_t*>(text.get()));
}
