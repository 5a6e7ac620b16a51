#include "platform/registry.h"

#include <cwchar>
#include <vector>

#include "diagnostics/vexception.h"
#include "platform/RegistryKey.h"
#include "platform/VFileName.h"

namespace {

// Fixed sites: the product's logs and other modules know these lines, whatever the source's own.
constexpr SiteName kCreateSite{"registry::create", 42};
constexpr SiteName kOpenSite{"registry::open", 49};
constexpr SiteName kGetstrSite{"registry::getstr", 763};
constexpr SiteName kSetNumberSite{"registry::set", 193};
constexpr SiteName kSetTextSite{"registry::set", 207};
constexpr SiteName kLookupNumberTypeSite{"registry::lookup", 319};
constexpr SiteName kLookupNumberSizeSite{"registry::lookup", 321};
constexpr SiteName kLookupSubKeyNumberTypeSite{"registry::lookup", 438};
constexpr SiteName kLookupSubKeyNumberSizeSite{"registry::lookup", 440};
constexpr SiteName kLookupSubKeyTextSite{"registry::lookup", 562};
constexpr SiteName kLookupTextSite{"registry::lookup", 661};

[[noreturn]] void raiseBadValue(const wchar_t* what, const std::wstring& name, SiteName site) {
  throw vexception(std::wstring(L"RegQueryValueEx invalid ") + what + L" of '" + name + L"'", site);
}

// Opens parent\subKey for queries in view; the key stays null when the status is not 0.
LSTATUS openForQuery(HKEY parent, const std::wstring& subKey, RegistryView view, RegistryKey& key) {
  return RegOpenKeyExW(parent, subKey.c_str(), 0, KEY_QUERY_VALUE | registry::viewFlag(view), key.put());
}

// Reads a value as text, whatever its length: the buffer is sized by the key's longest value.
// type receives the stored type; a non-zero status leaves text untouched.
LSTATUS readText(HKEY key, const std::wstring& valueName, std::wstring& text, DWORD& type) {
  DWORD longest = 0;
  LSTATUS status = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                    nullptr, &longest, nullptr, nullptr);
  if (status != ERROR_SUCCESS) return status;
  std::vector<wchar_t> buffer(longest / 2 + 1, L'\0');
  DWORD size = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
  status = RegQueryValueExW(key, valueName.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()),
                            &size);
  if (status != ERROR_SUCCESS) return status;
  // The text runs to its first zero within the data; a value written without a terminator keeps
  // its last character, and an odd trailing byte is no character.
  text.assign(buffer.data(), size / 2);
  text.resize(wcsnlen(text.c_str(), text.size()));
  return ERROR_SUCCESS;
}

bool isString(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ; }

// Reads a 4-byte REG_DWORD; the type and size errors name the value as name.
LSTATUS readNumber(HKEY key, const std::wstring& valueName, const std::wstring& name, DWORD& value,
                   SiteName typeSite, SiteName sizeSite) {
  DWORD type = 0;
  DWORD data = 0;
  DWORD size = sizeof(data);
  const LSTATUS status =
      RegQueryValueExW(key, valueName.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&data), &size);
  if (status != ERROR_SUCCESS) return status;
  if (type != REG_DWORD) raiseBadValue(L"type", name, typeSite);
  if (size != sizeof(data)) raiseBadValue(L"size", name, sizeSite);
  value = data;
  return ERROR_SUCCESS;
}

void setValue(HKEY key, const std::wstring& valueName, DWORD type, const void* data, DWORD size, SiteName site) {
  const LSTATUS status = RegSetValueExW(key, valueName.c_str(), 0, type, static_cast<const BYTE*>(data), size);
  if (status != ERROR_SUCCESS) {
    throwOSError(L"RegSetValueEx valueName=" + valueName, static_cast<uint32_t>(status),
                 site);
  }
}

}  // namespace

namespace registry {

REGSAM viewFlag(RegistryView view) {
  switch (view) {
    case RegistryView32:
      return KEY_WOW64_32KEY;
    case RegistryView64:
    case RegistryView64Alt:
      return KEY_WOW64_64KEY;
    default:
      return 0;
  }
}

void create(HKEY parent, const std::wstring& subKey, HKEY& key, REGSAM access) {
  const LSTATUS status = RegCreateKeyExW(parent, subKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, access,
                                         nullptr, &key, nullptr);
  if (status != ERROR_SUCCESS) {
    throwOSError(L"RegCreateKeyEx subKey=" + subKey, static_cast<uint32_t>(status),
                 kCreateSite);
  }
}

void open(HKEY parent, const std::wstring& subKey, HKEY& key, REGSAM access) {
  const LSTATUS status = RegOpenKeyExW(parent, subKey.c_str(), 0, access, &key);
  if (status != ERROR_SUCCESS) {
    throwOSError(L"RegOpenKeyEx subKey=" + subKey, static_cast<uint32_t>(status),
                 kOpenSite);
  }
}

bool exists(HKEY parent, const std::wstring& subKey, RegistryView view) {
  RegistryKey key;
  return RegOpenKeyExW(parent, subKey.c_str(), 0, READ_CONTROL | viewFlag(view), key.put()) == ERROR_SUCCESS;
}

LSTATUS lookup(HKEY key, const std::wstring& valueName, std::wstring& value) {
  std::wstring text;
  DWORD type = 0;
  const LSTATUS status = readText(key, valueName, text, type);
  if (status != ERROR_SUCCESS) return status;
  if (!isString(type)) raiseBadValue(L"type", valueName, kLookupTextSite);
  value = type == REG_EXPAND_SZ ? VFileName::expandEnvironmentStrings(text) : text;
  return ERROR_SUCCESS;
}

LSTATUS lookup(HKEY key, const std::wstring& valueName, DWORD& value) {
  return readNumber(key, valueName, valueName, value, kLookupNumberTypeSite, kLookupNumberSizeSite);
}

LSTATUS lookup(HKEY parent, const std::wstring& subKey, const std::wstring& valueName, DWORD& value,
               RegistryView view) {
  RegistryKey key;
  const LSTATUS status = openForQuery(parent, subKey, view, key);
  if (status != ERROR_SUCCESS) return status;
  return readNumber(key.get(), valueName, subKey + L"\\" + valueName, value, kLookupSubKeyNumberTypeSite,
                    kLookupSubKeyNumberSizeSite);
}

LSTATUS lookup(HKEY parent, const std::wstring& subKey, const std::wstring& valueName, std::wstring& value,
               DWORD expectedType, RegistryView view) {
  std::wstring text;
  DWORD type = 0;
  {
    RegistryKey key;
    LSTATUS status = openForQuery(parent, subKey, view, key);
    if (status == ERROR_SUCCESS) status = readText(key.get(), valueName, text, type);
    if (status != ERROR_SUCCESS) return status;
  }
  if (type != expectedType && !(isString(type) && isString(expectedType))) {
    raiseBadValue(L"type", subKey + L"\\" + valueName, kLookupSubKeyTextSite);
  }
  value = type == REG_EXPAND_SZ ? VFileName::expandEnvironmentStrings(text) : text;
  return ERROR_SUCCESS;
}

std::wstring getstr(HKEY parent, const std::wstring& subKey, const std::wstring& valueName, RegistryView view) {
  std::wstring value;
  const LSTATUS status = lookup(parent, subKey, valueName, value, REG_SZ, view);
  if (status != ERROR_SUCCESS) {
    throwOSError(L"lookup subKey=" + subKey + L" value=" + valueName, static_cast<uint32_t>(status),
                 kGetstrSite);
  }
  return value;
}

DWORD readDWORD(HKEY key, const std::wstring& valueName, DWORD defaultValue) {
  DWORD type = 0;
  DWORD data = 0;
  DWORD size = sizeof(data);
  const LSTATUS status =
      RegQueryValueExW(key, valueName.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&data), &size);
  return status == ERROR_SUCCESS && type == REG_DWORD && size == sizeof(data) ? data : defaultValue;
}

void set(HKEY key, const std::wstring& valueName, const std::wstring& text) {
  setValue(key, valueName, REG_SZ, text.c_str(), static_cast<DWORD>(text.size() * 2 + 2), kSetTextSite);
}

void set(HKEY key, const std::wstring& valueName, DWORD value) {
  setValue(key, valueName, REG_DWORD, &value, sizeof(value), kSetNumberSite);
}

}  // namespace registry
