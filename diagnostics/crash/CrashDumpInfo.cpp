#include "diagnostics/crash/CrashDumpInfo.h"

#include <atomic>
#include <cwchar>
#include <new>

#include "diagnostics/vexception.h"
#include "platform/RegistryKey.h"
#include "platform/VDateTime.h"
#include "platform/VDirectory.h"
#include "platform/VFileName.h"
#include "platform/moduleName.h"
#include "platform/registry.h"

namespace {

const wchar_t settingsKey[] = L"SOFTWARE\\Kestrin\\Ondra Config\\Config";
constexpr REGSAM settingsAccess = 0x20201;  // READ_CONTROL | KEY_QUERY_VALUE | KEY_WOW64_32KEY
// Fixed sites: the product's logs and other modules know these lines, whatever the source's own.
constexpr SiteName kDisabledSite{"CrashDumpInfo::getFileName", 139};
constexpr SiteName kTooLongSite{"CrashDumpInfo::getFileName", 147};

std::atomic<CrashDumpInfo*> registered{nullptr};

}  // namespace

CrashDumpInfo::CrashDumpInfo() noexcept {
  try {
    if (!writersLock) throw std::bad_alloc();
    readSettings();
  } catch (...) {
    enabled = false;
  }
}

CrashDumpInfo::~CrashDumpInfo() { handler.reset(); }

void CrashDumpInfo::readSettings() {
  RegistryKey key(HKEY_LOCAL_MACHINE, settingsKey, settingsAccess, false);
  DWORD dumpsEnabled = 1;
  registry::lookup(key.get(), L"CrashDumpsEnabled", dumpsEnabled);
  if (dumpsEnabled == 0) {
    enabled = false;
    return;
  }
  std::wstring root;
  registry::lookup(key.get(), L"PRODUCT_ROOT_D", root);
  if (root.empty()) {
    enabled = false;
    return;
  }
  location = VFileName::combine(root, L"etc\\crashdumps");
  std::wstring configured;
  if (registry::lookup(key.get(), L"CrashDumpsLocation", configured) == ERROR_SUCCESS) location = configured;
  VDirectory::createDirectory(location, nullptr);
  DWORD count = maxCount;
  if (registry::lookup(key.get(), L"CrashDumpsMaxCount", count) == ERROR_SUCCESS) maxCount = count;
  prefix = VFileName::removeExtension(VFileName::fileName(moduleName(nullptr)));
  fileName.reserve(260);
  handler = std::make_unique<HeapCorruptionHandler>(*this);
}

const std::wstring& CrashDumpInfo::getFileName() {
  if (!enabled) throw vexception(L"Crash dumping does not enabled", kDisabledSite);
  const VDateTime now;
  if (std::swprintf(stamp, std::size(stamp), L"%04d%02d%02d_%02d%02d%02d.dmp", now.year, now.month, now.day,
                    now.hour, now.minute, now.second) < 0) {
    stamp[0] = L'\0';
  }
  const std::wstring path = location + L"\\" + prefix + stamp;
  if (path.size() >= std::size(composed)) {
    throw vexception(L"Crash dump path longer than 260 characters: " + path, kTooLongSite);
  }
  std::wcsncpy(composed, path.c_str(), std::size(composed));
  fileName.assign(composed);
  return fileName;
}

void registerCrashDumpInfo(CrashDumpInfo* info) noexcept { registered.store(info); }

CrashDumpInfo* registeredCrashDumpInfo() noexcept { return registered.load(); }
