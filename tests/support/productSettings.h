#pragma once
// The product's settings values in one registry view (the product reads the 32-bit one), set for one
// test and put back as they were at its end. Tests using it hold the product-registry lock.

#include <windows.h>

#include <string>
#include <vector>

#include "platform/RegistryKey.h"

class ProductSettings {
 public:
  // Opens the settings key, creating it; raises as RegistryKey does.
  explicit ProductSettings(REGSAM view = KEY_WOW64_32KEY);
  ~ProductSettings();
  ProductSettings(const ProductSettings&) = delete;
  ProductSettings& operator=(const ProductSettings&) = delete;

  // Any type and bytes, as another program could leave them; throws std::runtime_error when refused.
  void set(const std::wstring& name, DWORD type, const void* data, DWORD size);
  void set(const std::wstring& name, const std::wstring& text);
  void set(const std::wstring& name, DWORD value) { set(name, REG_DWORD, &value, sizeof value); }
  void remove(const std::wstring& name);

 private:
  void save(const std::wstring& name);

  struct Saved {
    std::wstring name;
    bool existed = false;
    DWORD type = 0;
    std::vector<BYTE> data;
  };
  RegistryKey key_;
  std::vector<Saved> saved_;
};
