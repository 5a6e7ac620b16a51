#pragma once
// Owner of one open registry key: opened or created on construction, closed on destruction.

#include <windows.h>

#include <string>

#include "platform/registry.h"

class RegistryKey {
 public:
  // No key yet; the lookups fill `key` themselves.
  RegistryKey() = default;
  // registry::open (open true) or registry::create (open false) of parent\subKey; raises as they do.
  RegistryKey(HKEY parent, const std::wstring& subKey, REGSAM access, bool open);
  ~RegistryKey();

  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;

  HKEY key = nullptr;
};
