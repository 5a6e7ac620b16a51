#include "tests/support/productSettings.h"

#include "platform/RegistryKey.h"
#include "platform/registry.h"

namespace {

const wchar_t settingsKey[] = L"SOFTWARE\\Kestrin\\Ondra Config\\Config";

RegistryKey openSettings() { return RegistryKey(HKEY_LOCAL_MACHINE, settingsKey, KEY_ALL_ACCESS | KEY_WOW64_32KEY, false); }

}  // namespace

ProductSettings::~ProductSettings() {
  const RegistryKey key = openSettings();
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
  const RegistryKey key = openSettings();
  Saved saved{name};
  DWORD size = 0;
  if (RegQueryValueExW(key.get(), name.c_str(), nullptr, &saved.type, nullptr, &size) == ERROR_SUCCESS) {
    saved.existed = true;
    saved.data.resize(size);
    RegQueryValueExW(key.get(), name.c_str(), nullptr, &saved.type, saved.data.data(), &size);
  }
  saved_.push_back(std::move(saved));
}

void ProductSettings::set(const std::wstring& name, const std::wstring& text) {
  save(name);
  registry::set(openSettings().get(), name, text);
}

void ProductSettings::set(const std::wstring& name, DWORD value) {
  save(name);
  registry::set(openSettings().get(), name, value);
}

void ProductSettings::remove(const std::wstring& name) {
  save(name);
  RegDeleteValueW(openSettings().get(), name.c_str());
}
