#include "platform/registry.h"

#include <gtest/gtest.h>

#include <string>

#include "diagnostics/vexception.h"
#include "platform/RegistryKey.h"
#include "tests/platform/raised.h"

namespace {

// Every test works in a test key of its own under HKLM, removed from both views at its end. The
// tests run as processes of their own, side by side, so the key is named after the process.
const std::wstring kTestKey = L"SOFTWARE\\KestrinPlatformRegistryTest" + std::to_wstring(GetCurrentProcessId());

class Registry : public ::testing::Test {
 protected:
  Registry() : key(HKEY_LOCAL_MACHINE, kTestKey, KEY_ALL_ACCESS, false) {}

  ~Registry() override {
    RegDeleteTreeW(key.get(), nullptr);
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kTestKey.c_str(), KEY_WOW64_64KEY, 0);
    HKEY wow = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kTestKey.c_str(), 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY, &wow) == 0) {
      RegDeleteTreeW(wow, nullptr);
      RegCloseKey(wow);
    }
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kTestKey.c_str(), KEY_WOW64_32KEY, 0);
  }

  // Writes data exactly as given, so that values the product never writes can be read back.
  void put(const wchar_t* name, DWORD type, const void* data, DWORD size) {
    ASSERT_EQ(RegSetValueExW(key.get(), name, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
  }

  RegistryKey key;
};

template <class Call>
void expectBadValue(Call call, const std::wstring& message, int32_t line) {
  try {
    call();
    ADD_FAILURE() << "expected: " << std::string(message.begin(), message.end());
  } catch (const vosexception&) {
    ADD_FAILURE() << "a bad value carries no Windows error code";
  } catch (const vexception& e) {
    EXPECT_EQ(e.message, message);
    EXPECT_EQ(e.sites.at(0).function, "registry::lookup");
    EXPECT_EQ(e.sites.at(0).line, line);
  }
}

std::wstring environment(const wchar_t* name) {
  wchar_t buffer[1024];
  const DWORD length = GetEnvironmentVariableW(name, buffer, 1024);
  return std::wstring(buffer, length);
}

}  // namespace

TEST_F(Registry, StringsComeBackWholeAndExpandedOnlyWhenStoredAsExpandable) {
  const std::wstring systemRoot = environment(L"SystemRoot");
  ASSERT_FALSE(systemRoot.empty());
  const wchar_t expandable[] = L"%SystemRoot%\\x";
  put(L"expand", REG_EXPAND_SZ, expandable, sizeof(expandable));
  registry::set(key.get(), L"plain", std::wstring(L"%SystemRoot%\\x"));
  const std::wstring longText(20000, L'L');
  registry::set(key.get(), L"long", longText);

  EXPECT_EQ(registry::getstr(HKEY_LOCAL_MACHINE, kTestKey, L"expand", RegistryViewDefault), systemRoot + L"\\x");
  std::wstring value;
  ASSERT_EQ(registry::lookup(HKEY_LOCAL_MACHINE, kTestKey, L"plain", value, REG_EXPAND_SZ, RegistryViewDefault), 0);
  EXPECT_EQ(value, L"%SystemRoot%\\x");
  ASSERT_EQ(registry::lookup(HKEY_LOCAL_MACHINE, kTestKey, L"expand", value, REG_SZ, RegistryViewDefault), 0);
  EXPECT_EQ(value, systemRoot + L"\\x");
  ASSERT_EQ(registry::lookup(key.get(), L"expand", value), 0);
  EXPECT_EQ(value, systemRoot + L"\\x");
  ASSERT_EQ(registry::lookup(key.get(), L"long", value), 0);
  EXPECT_EQ(value, longText);
}

TEST_F(Registry, StringDataEndsAtItsFirstZeroOrAtItsEnd) {
  put(L"unterminated", REG_SZ, L"abc", 6);
  put(L"embedded", REG_SZ, L"ab\0cd", 12);
  put(L"empty", REG_SZ, L"", 0);
  put(L"odd", REG_SZ, "a\0b", 3);
  std::wstring value = L"previous";
  ASSERT_EQ(registry::lookup(key.get(), L"unterminated", value), 0);
  EXPECT_EQ(value, L"abc");
  ASSERT_EQ(registry::lookup(key.get(), L"embedded", value), 0);
  EXPECT_EQ(value, L"ab");
  ASSERT_EQ(registry::lookup(key.get(), L"empty", value), 0);
  EXPECT_EQ(value, L"");
  ASSERT_EQ(registry::lookup(key.get(), L"odd", value), 0);
  EXPECT_EQ(value, L"a");
}

TEST_F(Registry, StringLookupsReportMissingValuesAndRejectOtherTypes) {
  registry::set(key.get(), L"number", DWORD{7});
  std::wstring value = L"kept";
  EXPECT_EQ(registry::lookup(key.get(), L"missing", value), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(registry::lookup(HKEY_LOCAL_MACHINE, kTestKey, L"missing", value, REG_SZ, RegistryViewDefault),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(registry::lookup(HKEY_LOCAL_MACHINE, kTestKey + L"\\none", L"x", value, REG_SZ, RegistryViewDefault),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(value, L"kept");
  expectBadValue([&] { registry::lookup(key.get(), L"number", value); },
                 L"RegQueryValueEx invalid type of 'number'", 661);
  expectBadValue([&] { registry::getstr(HKEY_LOCAL_MACHINE, kTestKey, L"number", RegistryViewDefault); },
                 L"RegQueryValueEx invalid type of '" + kTestKey + L"\\number'", 562);
}

TEST_F(Registry, GetstrOfAMissingValueRaisesFileNotFoundNamingKeyAndValue) {
  const auto e = raised<VFileNotFoundException>(
      [] { registry::getstr(HKEY_LOCAL_MACHINE, kTestKey, L"PRODUCT_ROOT_D", RegistryViewDefault); });
  EXPECT_EQ(e.code, 2u);
  EXPECT_NE(e.message.find(L" at lookup subKey=" + kTestKey + L" value=PRODUCT_ROOT_D"), std::wstring::npos);
  EXPECT_EQ(e.sites.at(0).function + ":" + std::to_string(e.sites[0].line), "registry::getstr:763");
}

TEST_F(Registry, NumberLookupsCheckStatusBeforeTypeAndTypeBeforeSize) {
  registry::set(key.get(), L"two", std::wstring(L"ab"));
  registry::set(key.get(), L"one", std::wstring(L"a"));
  put(L"binary", REG_BINARY, "\1\2", 2);
  put(L"short", REG_DWORD, "\1\2", 2);
  registry::set(key.get(), L"good", DWORD{0xCAFE});

  DWORD value = 99;
  EXPECT_EQ(registry::lookup(key.get(), L"two", value), ERROR_MORE_DATA);
  EXPECT_EQ(registry::lookup(HKEY_LOCAL_MACHINE, kTestKey, L"two", value, RegistryViewDefault), ERROR_MORE_DATA);
  EXPECT_EQ(registry::lookup(key.get(), L"missing", value), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(value, 99u);
  expectBadValue([&] { registry::lookup(key.get(), L"one", value); }, L"RegQueryValueEx invalid type of 'one'", 319);
  expectBadValue([&] { registry::lookup(key.get(), L"binary", value); },
                 L"RegQueryValueEx invalid type of 'binary'", 319);
  expectBadValue([&] { registry::lookup(key.get(), L"short", value); },
                 L"RegQueryValueEx invalid size of 'short'", 321);
  expectBadValue([&] { registry::lookup(HKEY_LOCAL_MACHINE, kTestKey, L"binary", value, RegistryViewDefault); },
                 L"RegQueryValueEx invalid type of '" + kTestKey + L"\\binary'", 438);
  expectBadValue([&] { registry::lookup(HKEY_LOCAL_MACHINE, kTestKey, L"short", value, RegistryViewDefault); },
                 L"RegQueryValueEx invalid size of '" + kTestKey + L"\\short'", 440);
  EXPECT_EQ(value, 99u);
  ASSERT_EQ(registry::lookup(key.get(), L"good", value), 0);
  EXPECT_EQ(value, 0xCAFEu);
}

TEST_F(Registry, ReadDWORDFallsBackToTheDefaultForAnythingButAFourByteNumber) {
  registry::set(key.get(), L"text", std::wstring(L"1"));
  put(L"short", REG_DWORD, "\1\2", 2);
  registry::set(key.get(), L"opentracing_enabled", DWORD{1});
  EXPECT_EQ(registry::readDWORD(key.get(), L"missing", 5), 5u);
  EXPECT_EQ(registry::readDWORD(key.get(), L"text", 5), 5u);
  EXPECT_EQ(registry::readDWORD(key.get(), L"short", 5), 5u);
  EXPECT_EQ(registry::readDWORD(key.get(), L"opentracing_enabled", 5), 1u);
}

TEST_F(Registry, The32BitViewIsSeparateFromThe64BitView) {
  {
    RegistryKey wow(HKEY_LOCAL_MACHINE, kTestKey + L"\\Config", KEY_ALL_ACCESS | KEY_WOW64_32KEY, false);
    registry::set(wow.get(), L"Debug", DWORD{3});
  }
  EXPECT_TRUE(registry::exists(HKEY_LOCAL_MACHINE, kTestKey + L"\\Config", RegistryView32));
  EXPECT_FALSE(registry::exists(HKEY_LOCAL_MACHINE, kTestKey + L"\\Config", RegistryView64));
  EXPECT_FALSE(registry::exists(HKEY_LOCAL_MACHINE, kTestKey + L"\\Config", RegistryViewDefault));
  EXPECT_TRUE(registry::exists(HKEY_LOCAL_MACHINE, kTestKey, RegistryView64Alt));
  DWORD value = 0;
  ASSERT_EQ(registry::lookup(HKEY_LOCAL_MACHINE, kTestKey + L"\\Config", L"Debug", value, RegistryView32), 0);
  EXPECT_EQ(value, 3u);
  EXPECT_EQ(registry::lookup(HKEY_LOCAL_MACHINE, kTestKey + L"\\Config", L"Debug", value, RegistryView64),
            ERROR_FILE_NOT_FOUND);
}

TEST_F(Registry, KeysRaiseAtTheCallThatFailed) {
  const auto missing = raised<VFileNotFoundException>(
      [] { RegistryKey(HKEY_LOCAL_MACHINE, kTestKey + L"\\absent", KEY_READ, true); });
  EXPECT_NE(missing.message.find(L" at RegOpenKeyEx subKey=" + kTestKey + L"\\absent"), std::wstring::npos);
  EXPECT_EQ(missing.sites.at(0).function, "registry::open");
  { RegistryKey created(HKEY_LOCAL_MACHINE, kTestKey + L"\\made", KEY_ALL_ACCESS, false); }
  RegistryKey reader(HKEY_LOCAL_MACHINE, kTestKey + L"\\made", KEY_QUERY_VALUE, true);
  ASSERT_NE(reader.get(), nullptr);
  const auto denied = raised<VAccessDeniedException>([&] { registry::set(reader.get(), L"denied", DWORD{1}); });
  EXPECT_NE(denied.message.find(L" at RegSetValueEx valueName=denied"), std::wstring::npos);
  EXPECT_EQ(denied.sites.at(0).function + ":" + std::to_string(denied.sites[0].line), "registry::set:193");
  HKEY out = nullptr;
  const auto bogus = raised<VInvalidHandleException>([&] {
    registry::create(reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x1234)), L"child", out, KEY_ALL_ACCESS);
  });
  EXPECT_EQ(bogus.sites.at(0).function, "registry::create");
  EXPECT_NE(bogus.message.find(L" at RegCreateKeyEx subKey=child"), std::wstring::npos);
}
