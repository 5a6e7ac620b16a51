#pragma once
// The product's settings in one registry view (the product reads the 32-bit one), put back at the end.
// Tests using it hold the product-registry lock.

#include <windows.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "platform/RegistryKey.h"

class ProductSettings {
 public:
  // Opens the settings key, creating it; raises as RegistryKey does.
  explicit ProductSettings(REGSAM view = KEY_WOW64_32KEY)
      : key_(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Kestrin\\Ondra Config\\Config", KEY_ALL_ACCESS | view, false) {}
  ~ProductSettings() {
    for (auto saved = saved_.rbegin(); saved != saved_.rend(); ++saved) {
      RegDeleteValueW(key_.get(), saved->name.c_str());
      if (!saved->existed) continue;
      RegSetValueExW(key_.get(), saved->name.c_str(), 0, saved->type, saved->data.data(),
                     static_cast<DWORD>(saved->data.size()));
    }
  }

  // Any type and bytes, as another program could leave them; throws std::runtime_error when refused.
  void set(const std::wstring& name, DWORD type, const void* data, DWORD size) {
    save(name);
    const auto bytes = static_cast<const BYTE*>(data);
    const LSTATUS status = RegSetValueExW(key_.get(), name.c_str(), 0, type, bytes, size);
    if (status != ERROR_SUCCESS) throw std::runtime_error("refused with " + std::to_string(status));
  }
  void set(const std::wstring& name, const std::wstring& text) {
    set(name, REG_SZ, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
  }
  void set(const std::wstring& name, DWORD value) { set(name, REG_DWORD, &value, sizeof value); }
  void remove(const std::wstring& name) {
    save(name);
    RegDeleteValueW(key_.get(), name.c_str());
  }

 private:
  struct Saved {
    std::wstring name;
    bool existed = false;
    DWORD type = 0;
    std::vector<BYTE> data;
  };

  void save(const std::wstring& name) {
    Saved& saved = saved_.emplace_back();
    saved.name = name;
    DWORD size = 0;
    saved.existed = !RegQueryValueExW(key_.get(), name.c_str(), nullptr, &saved.type, nullptr, &size);
    saved.data.resize(size);
    RegQueryValueExW(key_.get(), name.c_str(), nullptr, &saved.type, saved.data.data(), &size);
  }

  RegistryKey key_;
  std::vector<Saved> saved_;
};
