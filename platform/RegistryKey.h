#pragma once
// Owner of one open registry key: opened or created on construction, closed on destruction.

#include <windows.h>

#include <string>

#include "platform/UniqueHandle.h"
#include "platform/registry.h"

class RegistryKey : public UniqueRegistryKey {
 public:
  // No key yet; the lookups fill it through put().
  RegistryKey() = default;
  // registry::open (open true) or registry::create (open false) of parent\subKey; raises as they do.
  RegistryKey(HKEY parent, const std::wstring& subKey, REGSAM access, bool open);
};

static_assert(sizeof(RegistryKey) == sizeof(HKEY), "a registry key owner is the key alone");
