#include "tests/support/productSettings.h"

#include <stdexcept>

#include "platform/RegistryKey.h"

namespace {

RegistryKey openSettings(REGSAM view) {
  return RegistryKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Kestrin\\Ondra Config\\Config", KEY_ALL_ACCESS | view, false);
}

}  // namespace

ProductSettings::~ProductSettings() {
  const RegistryKey key = openSettings(view_);
  for (auto saved = saved_.rbegin(); saved != saved_.rend(); ++saved) {
    if (saved->existed) {
      RegSetValueExW(key.get(), saved->name.c_str(), 0, saved->type, saved->data.data(),
                     static_cast<DWORD>(saved->data.size()));
    } else {
      RegDeleteValueW(key.get(), saved->name.c_str());
    }
  }
}

void ProductSettings::save(const std::wstring& name) {
  const RegistryKey key = openSettings(view_);
  Saved saved;
  saved.name = name;
  DWORD size = 0;
  if (RegQueryValueExW(key.get(), name.c_str(), nullptr, &saved.type, nullptr, &size) == ERROR_SUCCESS) {
    saved.existed = true;
    saved.data.resize(size);
    RegQueryValueExW(key.get(), name.c_str(), nullptr, &saved.type, saved.data.data(), &size);
  }
  saved_.push_back(std::move(saved));
}

void ProductSettings::set(const std::wstring& name, DWORD type, const void* data, DWORD size) {
  save(name);
  const LSTATUS status =
      RegSetValueExW(openSettings(view_).get(), name.c_str(), 0, type, static_cast<const BYTE*>(data), size);
  if (status != ERROR_SUCCESS) throw std::runtime_error("setting a product value failed: " + std::to_string(status));
}

void ProductSettings::set(const std::wstring& name, const std::wstring& text) {
  set(name, REG_SZ, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

void ProductSettings::remove(const std::wstring& name) {
  save(name);
  RegDeleteValueW(openSettings(view_).get(), name.c_str());
}
