#include "tests/driver/tracingSwitch.h"

#include <gtest/gtest.h>

namespace {

const wchar_t* const kKey = L"SOFTWARE\\Kestrin\\Ondra Config\\Config";
const wchar_t* const kValue = L"opentracing_enabled";

HKEY openKey(REGSAM view, bool create) {
  HKEY key = nullptr;
  const LSTATUS status =
      create ? RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, &key, nullptr)
             : RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, KEY_ALL_ACCESS | view, &key);
  return status == ERROR_SUCCESS ? key : nullptr;
}

}  // namespace

TracingSwitch::TracingSwitch() {
  for (REGSAM view : {REGSAM(KEY_WOW64_32KEY), REGSAM(KEY_WOW64_64KEY)}) {
    Saved entry;
    entry.view = view;
    if (HKEY key = openKey(view, false)) {
      entry.keyExisted = true;
      DWORD size = 0;
      if (RegQueryValueExW(key, kValue, nullptr, &entry.type, nullptr, &size) == ERROR_SUCCESS) {
        entry.valueExisted = true;
        entry.data.resize(size);
        RegQueryValueExW(key, kValue, nullptr, &entry.type, entry.data.data(), &size);
      }
      RegCloseKey(key);
    }
    saved_.push_back(entry);
  }
}

TracingSwitch::~TracingSwitch() {
  for (const Saved& entry : saved_) {
    HKEY key = openKey(entry.view, false);
    if (key == nullptr) continue;
    if (entry.valueExisted) {
      RegSetValueExW(key, kValue, 0, entry.type, entry.data.data(), static_cast<DWORD>(entry.data.size()));
    } else {
      RegDeleteValueW(key, kValue);
    }
    RegCloseKey(key);
    if (!entry.keyExisted) RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kKey, entry.view, 0);
  }
}

void TracingSwitch::set(REGSAM view, DWORD type, const void* data, DWORD size) {
  HKEY key = openKey(view, true);
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(RegSetValueExW(key, kValue, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
  RegCloseKey(key);
}

void TracingSwitch::remove(REGSAM view) {
  if (HKEY key = openKey(view, false)) {
    RegDeleteValueW(key, kValue);
    RegCloseKey(key);
  }
}
