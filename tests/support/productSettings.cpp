#include "tests/support/productSettings.h"

#include <stdexcept>

ProductSettings::ProductSettings(REGSAM view)
    : key_(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Kestrin\\Ondra Config\\Config", KEY_ALL_ACCESS | view, false) {}

ProductSettings::~ProductSettings() {
  for (auto saved = saved_.rbegin(); saved != saved_.rend(); ++saved) {
    if (saved->existed) {
      RegSetValueExW(key_.get(), saved->name.c_str(), 0, saved->type, saved->data.data(),
                     static_cast<DWORD>(saved->data.size()));
    } else {
      RegDeleteValueW(key_.get(), saved->name.c_str());
    }
  }
}

void ProductSettings::save(const std::wstring& name) {
  Saved& saved = saved_.emplace_back();
  saved.name = name;
  DWORD size = 0;
  saved.existed = RegQueryValueExW(key_.get(), name.c_str(), nullptr, &saved.type, nullptr, &size) == ERROR_SUCCESS;
  saved.data.resize(size);
  RegQueryValueExW(key_.get(), name.c_str(), nullptr, &saved.type, saved.data.data(), &size);
}

void ProductSettings::set(const std::wstring& name, DWORD type, const void* data, DWORD size) {
  save(name);
  const LSTATUS status = RegSetValueExW(key_.get(), name.c_str(), 0, type, static_cast<const BYTE*>(data), size);
  if (status != ERROR_SUCCESS) throw std::runtime_error("setting a product value failed: " + std::to_string(status));
}

void ProductSettings::set(const std::wstring& name, const std::wstring& text) {
  set(name, REG_SZ, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

void ProductSettings::remove(const std::wstring& name) {
  save(name);
  RegDeleteValueW(key_.get(), name.c_str());
}
