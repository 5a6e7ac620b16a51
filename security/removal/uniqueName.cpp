#include "security/removal/uniqueName.h"

#include <windows.h>

#include <rpc.h>

#include "diagnostics/vexception.h"
#include "platform/UniqueHandle.h"

namespace {

constexpr SiteName createSite{"RunTime::uniqueName", 26};
constexpr SiteName textSite{"RunTime::uniqueName", 31};

inline void freeRpcString(RPC_WSTR text) noexcept { RpcStringFreeW(&text); }
using UniqueRpcString = UniqueHandle<NullEmptyTraits<RPC_WSTR, freeRpcString>>;

}  // namespace

std::wstring RunTime::uniqueName(bool random) {
  UUID uuid;
  const RPC_STATUS created = random ? UuidCreate(&uuid) : UuidCreateSequential(&uuid);
  if (created != RPC_S_OK && created != RPC_S_UUID_LOCAL_ONLY) {
    throwOSError(L"Unable to create GUID", static_cast<uint32_t>(created), createSite);
  }
  UniqueRpcString text;
  const RPC_STATUS converted = UuidToStringW(&uuid, text.put());
  if (converted != RPC_S_OK) throwOSError(L"Unable to create GUID", static_cast<uint32_t>(converted), textSite);
  return std::wstring(reinterpret_cast<const wchar_t*>(text.get()));
}
