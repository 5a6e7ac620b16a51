#include "platform/RegistryKey.h"

RegistryKey::RegistryKey(HKEY parent, const std::wstring& subKey, REGSAM access, bool open) {
  HKEY key = nullptr;
  if (open) {
    registry::open(parent, subKey, key, access);
  } else {
    registry::create(parent, subKey, key, access);
  }
  reset(key);
}
