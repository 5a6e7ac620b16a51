#include "platform/RegistryWatch.h"

#include <gtest/gtest.h>

#include <thread>

#include "platform/RegistryKey.h"
#include "platform/registry.h"
#include "tests/support/runProcess.h"

namespace {

// A watched key of the test's own in the 32-bit view, with a subkey "Config" as the product has.
const std::wstring kWatched = L"SOFTWARE\\KestrinRegistryWatchTest" + std::to_wstring(GetCurrentProcessId());
const std::wstring kConfig = kWatched + L"\\Config";
const std::wstring kConfig32 = L"SOFTWARE\\WOW6432Node" + kConfig.substr(8);

void setValue(const std::wstring& subKey, DWORD value, REGSAM view = KEY_WOW64_32KEY) {
  registry::set(RegistryKey(HKEY_LOCAL_MACHINE, subKey, KEY_ALL_ACCESS | view, false).get(), L"value", value);
}

TEST(RegistryWatch, TheGenerationMovesOnceForEveryChangeBelowTheKeyAndOnlyThenForEveryThread) {
  RegistryWatch watch(HKEY_LOCAL_MACHINE, kWatched, RegistryView32);
  EXPECT_EQ(watch.generation(), RegistryWatch::kUnwatched);
  EXPECT_EQ(watch.generation(), RegistryWatch::kUnwatched) << "a missing key";
  uint64_t last = 0;
  // Threads racing to read after a change all see it.
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
  setValue(kConfig, 1);
  expectMoved("the key made");
  setValue(kConfig, 1);
  EXPECT_EQ(watch.generation(), last) << "the same data written again changes nothing";
  setValue(kConfig, 2);
  expectMoved("a value set in a subkey");
  // Changes made by another process, as an operator makes them.
  const std::wstring reg = L"add \"HKLM\\" + kConfig + L"\" /v other /t REG_SZ /d x /reg:32 /f";
  ASSERT_EQ(runProcess(L"C:\\windows\\system32\\reg.exe", reg).exitCode, 0u);
  expectMoved("a value added by another process");
  RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kConfig32.c_str(), L"other");
  expectMoved("a value deleted");
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, kConfig32.c_str());
  expectMoved("the subkey deleted");
  setValue(kConfig, 3);
  expectMoved("the subkey made again");
  setValue(kConfig, 4, KEY_WOW64_64KEY);
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, kWatched.c_str());
  EXPECT_EQ(watch.generation(), last) << "a change in the other view";

  // Its own deletion: every call says "read again" until the key is back, and then moves on.
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, (L"SOFTWARE\\WOW6432Node" + kWatched.substr(8)).c_str());
  EXPECT_EQ(watch.generation(), RegistryWatch::kUnwatched);
  EXPECT_EQ(watch.generation(), RegistryWatch::kUnwatched);
  setValue(kWatched, 2);
  expectMoved("the key made again");
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, (L"SOFTWARE\\WOW6432Node" + kWatched.substr(8)).c_str());
}

}  // namespace
