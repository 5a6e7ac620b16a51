#include "platform/registry.h"

#include <gtest/gtest.h>

#include <thread>

#include "platform/RegistryKey.h"
#include "platform/RegistryWatch.h"
#include "tests/platform/raised.h"
#include "tests/support/runProcess.h"

// Test processes run side by side: the key is named after the process and removed from both views.
const std::wstring kTestKey = L"SOFTWARE\\KestrinPlatformRegistryTest" + std::to_wstring(GetCurrentProcessId());
const std::wstring kTestKey32 = L"SOFTWARE\\WOW6432Node" + kTestKey.substr(8);

class Registry : public ::testing::Test {
 protected:
  Registry() : key(HKEY_LOCAL_MACHINE, kTestKey, KEY_ALL_ACCESS, false) {}
  ~Registry() override {
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kTestKey.c_str());
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kTestKey32.c_str());
  }

  // Writes data exactly as given, so that values the product never writes can be read back.
  void put(const wchar_t* name, DWORD type, const void* data, DWORD size) {
    ASSERT_EQ(RegSetValueExW(key.get(), name, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
  }

  RegistryKey key;
};

TEST_F(Registry, StringsComeBackWholeExpandedOnlyWhenStoredSoAndEndAtTheirFirstZero) {
  wchar_t buffer[MAX_PATH];
  const std::wstring systemRoot(buffer, GetEnvironmentVariableW(L"SystemRoot", buffer, MAX_PATH));
  // Longer than a path once expanded, and a reference to nothing is left as it is.
  const std::wstring tail = L"\\" + std::wstring(5000, L'x') + L"%KESTRIN_UNDEFINED_VARIABLE%";
  const std::wstring expandable = L"%SystemRoot%" + tail;
  put(L"expand", REG_EXPAND_SZ, expandable.c_str(), static_cast<DWORD>((expandable.size() + 1) * sizeof(wchar_t)));
  registry::set(key.get(), L"plain", expandable);
  registry::set(key.get(), L"long", std::wstring(20000, L'L'));
  EXPECT_EQ(registry::getstr(HKEY_LOCAL_MACHINE, kTestKey, L"expand", RegistryViewDefault), systemRoot + tail);
  std::wstring value;
  ASSERT_EQ(registry::lookup(HKEY_LOCAL_MACHINE, kTestKey, L"plain", value, REG_EXPAND_SZ, RegistryViewDefault), 0);
  EXPECT_EQ(value, expandable);

  put(L"unterminated", REG_SZ, L"abc", 6);
  put(L"embedded", REG_SZ, L"ab\0cd", 12);
  put(L"empty", REG_SZ, L"", 0);
  put(L"odd", REG_SZ, "a\0b", 3);
  const std::pair<const wchar_t*, std::wstring> stored[] = {
      {L"expand", systemRoot + tail}, {L"long", std::wstring(20000, L'L')}, {L"unterminated", L"abc"},
      {L"embedded", L"ab"},           {L"empty", L""},                      {L"odd", L"a"}};
  for (const auto& [name, expected] : stored) {
    ASSERT_EQ(registry::lookup(key.get(), name, value), 0) << name;
    EXPECT_EQ(value, expected) << name;
  }
}

TEST_F(Registry, LookupsCheckStatusBeforeTypeAndTypeBeforeSizeAndFailuresNameKeyValueAndCall) {
  registry::set(key.get(), L"number", DWORD{7});
  registry::set(key.get(), L"two", std::wstring(L"ab"));
  registry::set(key.get(), L"one", std::wstring(L"a"));
  put(L"binary", REG_BINARY, "\1\2", 2);
  put(L"short", REG_DWORD, "\1\2", 2);
  std::wstring text = L"kept";
  DWORD number = 99;
  const HKEY machine = HKEY_LOCAL_MACHINE;
  EXPECT_EQ(registry::lookup(key.get(), L"missing", text), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(registry::lookup(machine, kTestKey + L"\\none", L"x", text, REG_SZ, RegistryViewDefault),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(registry::lookup(key.get(), L"missing", number), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(registry::lookup(key.get(), L"two", number), ERROR_MORE_DATA);
  EXPECT_EQ(registry::lookup(machine, kTestKey, L"two", number, RegistryViewDefault), ERROR_MORE_DATA);
  for (const wchar_t* name : {L"missing", L"one", L"short"}) EXPECT_EQ(registry::readDWORD(key.get(), name, 5), 5u);
  EXPECT_EQ(registry::readDWORD(key.get(), L"number", 5), 7u);

  // A bad value raises naming it, without a Windows error code.
  const std::wstring invalid = L"RegQueryValueEx invalid ", path = kTestKey + L"\\";
  EXPECT_EQ(failure([&] { registry::lookup(key.get(), L"number", text); }),
            invalid + L"type of 'number' at registry::lookup:661");
  EXPECT_EQ(failure([&] { registry::getstr(machine, kTestKey, L"number", RegistryViewDefault); }),
            invalid + L"type of '" + path + L"number' at registry::lookup:562");
  EXPECT_EQ(failure([&] { registry::lookup(key.get(), L"one", number); }),
            invalid + L"type of 'one' at registry::lookup:319");
  EXPECT_EQ(failure([&] { registry::lookup(key.get(), L"binary", number); }),
            invalid + L"type of 'binary' at registry::lookup:319");
  EXPECT_EQ(failure([&] { registry::lookup(key.get(), L"short", number); }),
            invalid + L"size of 'short' at registry::lookup:321");
  EXPECT_EQ(failure([&] { registry::lookup(machine, kTestKey, L"binary", number, RegistryViewDefault); }),
            invalid + L"type of '" + path + L"binary' at registry::lookup:438");
  EXPECT_EQ(failure([&] { registry::lookup(machine, kTestKey, L"short", number, RegistryViewDefault); }),
            invalid + L"size of '" + path + L"short' at registry::lookup:440");
  EXPECT_EQ(text, L"kept");
  EXPECT_EQ(number, 99u);

  const auto value = raised<VFileNotFoundException>(
      [] { registry::getstr(HKEY_LOCAL_MACHINE, kTestKey, L"PRODUCT_ROOT_D", RegistryViewDefault); });
  EXPECT_NE(value.message.find(L" at lookup subKey=" + kTestKey + L" value=PRODUCT_ROOT_D"), std::wstring::npos);
  const auto missing =
      raised<VFileNotFoundException>([] { RegistryKey(HKEY_LOCAL_MACHINE, kTestKey + L"\\absent", KEY_READ, true); });
  EXPECT_NE(missing.message.find(L" at RegOpenKeyEx subKey=" + kTestKey + L"\\absent"), std::wstring::npos);
  RegistryKey reader(machine, kTestKey, KEY_QUERY_VALUE, true);
  const auto denied = raised<VAccessDeniedException>([&] { registry::set(reader.get(), L"denied", DWORD{1}); });
  EXPECT_NE(denied.message.find(L" at RegSetValueEx valueName=denied"), std::wstring::npos);
  HKEY out = nullptr;
  const auto bogus = raised<VInvalidHandleException>(
      [&] { registry::create(reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x1234)), L"child", out, KEY_ALL_ACCESS); });
  EXPECT_NE(bogus.message.find(L" at RegCreateKeyEx subKey=child"), std::wstring::npos);
  EXPECT_EQ(site(value) + " " + site(missing) + " " + site(denied) + " " + site(bogus),
            "registry::getstr:763 registry::open:49 registry::set:193 registry::create:42");
}

// The test key in the 32-bit view, watched with a subkey "Config" as the product's has.
TEST_F(Registry, AWatchMovesOnceForEveryChangeBelowTheKeyInItsViewAndOnlyThenForEveryThread) {
  const std::wstring config = kTestKey + L"\\Config", config32 = kTestKey32 + L"\\Config";
  const auto setValue = [](const std::wstring& subKey, DWORD value, REGSAM view) {
    registry::set(RegistryKey(HKEY_LOCAL_MACHINE, subKey, KEY_ALL_ACCESS | view, false).get(), L"value", value);
  };
  RegistryWatch watch(HKEY_LOCAL_MACHINE, kTestKey, RegistryView32);
  EXPECT_EQ(watch.generation(), RegistryWatch::kUnwatched) << "a missing key";
  uint64_t last = 0;
  const auto expectMoved = [&](const char* what) {
    uint64_t seen[8]{};
    std::thread threads[8];
    for (int n = 0; n < 8; ++n) threads[n] = std::thread([&, n] { seen[n] = watch.generation(); });
    for (std::thread& thread : threads) thread.join();
    const uint64_t now = watch.generation();
    for (uint64_t generation : seen) EXPECT_EQ(generation, now) << what << ": one change moves it once";
    EXPECT_GT(now, last) << what;
    EXPECT_NE(now, RegistryWatch::kUnwatched) << what;
    last = now;
  };
  setValue(config, 1, KEY_WOW64_32KEY);
  expectMoved("the key made");
  EXPECT_TRUE(registry::exists(HKEY_LOCAL_MACHINE, config, RegistryView32));
  EXPECT_FALSE(registry::exists(HKEY_LOCAL_MACHINE, config, RegistryView64));
  EXPECT_FALSE(registry::exists(HKEY_LOCAL_MACHINE, config, RegistryViewDefault));
  setValue(config, 2, KEY_WOW64_32KEY);
  expectMoved("a value set in a subkey");
  const std::wstring reg = L"add \"HKLM\\" + config + L"\" /v other /t REG_SZ /d x /reg:32 /f";
  ASSERT_EQ(runProcess(L"C:\\windows\\system32\\reg.exe", reg).exitCode, 0u);
  expectMoved("a value added by another process");
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, config32.c_str());
  expectMoved("the subkey deleted");
  setValue(config, 3, KEY_WOW64_32KEY);
  expectMoved("the subkey made again");
  setValue(config, 4, KEY_WOW64_64KEY);
  EXPECT_EQ(watch.generation(), last) << "a change in the other view";

  // Its own deletion: every call says "read again" until the key is back, and then moves on.
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, kTestKey32.c_str());
  EXPECT_TRUE(registry::exists(HKEY_LOCAL_MACHINE, config, RegistryView64Alt));
  EXPECT_EQ(watch.generation(), RegistryWatch::kUnwatched);
  EXPECT_EQ(watch.generation(), RegistryWatch::kUnwatched);
  setValue(kTestKey, 2, KEY_WOW64_32KEY);
  expectMoved("the key made again");
}
