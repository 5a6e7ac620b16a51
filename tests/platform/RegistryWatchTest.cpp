#include "platform/RegistryWatch.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "tests/support/runProcess.h"

namespace {

// A watched key of the test's own in the 32-bit view, with a subkey "Config" as the product has:
// the test process is the only one that uses it.
const std::wstring kWatched = L"SOFTWARE\\KestrinRegistryWatchTest" + std::to_wstring(GetCurrentProcessId());
const std::wstring kConfig = kWatched + L"\\Config";

void setValue(const std::wstring& subKey, DWORD value) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, subKey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY,
                            nullptr, &key, nullptr),
            ERROR_SUCCESS);
  RegSetValueExW(key, L"value", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
  RegCloseKey(key);
}

void deleteKey(const std::wstring& subKey) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, subKey.c_str(), 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY, &key) != ERROR_SUCCESS) {
    return;
  }
  RegDeleteTreeW(key, nullptr);
  RegCloseKey(key);
  RegDeleteKeyExW(HKEY_LOCAL_MACHINE, subKey.c_str(), KEY_WOW64_32KEY, 0);
}

class Watch : public ::testing::Test {
 protected:
  ~Watch() override { deleteKey(kWatched); }
};

}  // namespace

TEST_F(Watch, TheGenerationMovesWithEveryChangeBelowTheKeyAndOnlyThen) {
  setValue(kConfig, 1);
  RegistryWatch watch(HKEY_LOCAL_MACHINE, kWatched, RegistryView32);
  uint64_t last = watch.generation();
  ASSERT_NE(last, RegistryWatch::kUnwatched);
  EXPECT_EQ(watch.generation(), last) << "nothing changed";
  setValue(kConfig, 1);
  EXPECT_EQ(watch.generation(), last) << "the same data written again changes nothing";

  const auto expectMoved = [&](const char* what) {
    const uint64_t now = watch.generation();
    EXPECT_GT(now, last) << what;
    EXPECT_EQ(watch.generation(), now) << what << ": one change moves it once";
    last = now;
  };
  setValue(kConfig, 2);
  expectMoved("a value set in a subkey");
  // Changes made by another process, as an operator makes them.
  const std::wstring reg = L"reg add \"HKLM\\" + kConfig + L"\" /v other /t REG_SZ /d x /reg:32 /f";
  ASSERT_EQ(runProcess(L"C:\\windows\\system32\\reg.exe", reg.substr(4)).exitCode, 0u);
  expectMoved("a value added by another process");
  RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, (L"SOFTWARE\\WOW6432Node\\" + kConfig.substr(9)).c_str(), L"other");
  expectMoved("a value deleted");
  deleteKey(kConfig);
  expectMoved("the subkey deleted");
  setValue(kConfig, 3);
  expectMoved("the subkey made again");

  // The 64-bit view is another key.
  HKEY other = nullptr;
  RegCreateKeyExW(HKEY_LOCAL_MACHINE, kConfig.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, &other,
                  nullptr);
  RegDeleteTreeW(other, nullptr);
  RegCloseKey(other);
  RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kConfig.c_str(), KEY_WOW64_64KEY, 0);
  RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kWatched.c_str(), KEY_WOW64_64KEY, 0);
  EXPECT_EQ(watch.generation(), last) << "a change in the other view";
}

TEST_F(Watch, AMissingKeyIsUnwatchedUntilItIsMadeAndAgainOnceDeleted) {
  RegistryWatch watch(HKEY_LOCAL_MACHINE, kWatched, RegistryView32);
  EXPECT_EQ(watch.generation(), RegistryWatch::kUnwatched);
  EXPECT_EQ(watch.generation(), RegistryWatch::kUnwatched);
  setValue(kWatched, 1);
  const uint64_t first = watch.generation();
  EXPECT_NE(first, RegistryWatch::kUnwatched);
  EXPECT_EQ(watch.generation(), first);
  // Its own deletion: every call says "read again" until the key is back, and then moves on.
  deleteKey(kWatched);
  EXPECT_EQ(watch.generation(), RegistryWatch::kUnwatched);
  setValue(kWatched, 2);
  const uint64_t back = watch.generation();
  EXPECT_GT(back, first);
  EXPECT_EQ(watch.generation(), back);
}

TEST_F(Watch, ThreadsRacingAChangeAllSeeItAfterwards) {
  setValue(kConfig, 1);
  RegistryWatch watch(HKEY_LOCAL_MACHINE, kWatched, RegistryView32);
  const uint64_t before = watch.generation();
  setValue(kConfig, 2);
  uint64_t seen[8]{};
  std::thread threads[8];
  for (int n = 0; n < 8; ++n) threads[n] = std::thread([&, n] { seen[n] = watch.generation(); });
  for (std::thread& thread : threads) thread.join();
  for (uint64_t generation : seen) EXPECT_GT(generation, before) << "a thread used values from before the change";
}
