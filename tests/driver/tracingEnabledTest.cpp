#include "driver/readTracingEnabled.h"

#include <gtest/gtest.h>

#include "diagnostics/ExecuteContext.h"
#include "driver/OpenTracingDriverState.h"
#include "driver/OpenTracingDriver.h"
#include "tests/driver/childProcess.h"
#include "tests/driver/tracingSwitch.h"

TEST(TracingEnabled, OnlyANonZeroDwordInThe32BitViewSwitchesTracingOn) {
  TracingSwitch values;
  values.remove(KEY_WOW64_32KEY);
  values.remove(KEY_WOW64_64KEY);
  EXPECT_FALSE(readTracingEnabled()) << "absent";

  values.setDword(KEY_WOW64_64KEY, 1);
  EXPECT_FALSE(readTracingEnabled()) << "only in the 64-bit view";

  const wchar_t text[] = L"1";
  values.set(KEY_WOW64_32KEY, REG_SZ, text, sizeof(text));
  EXPECT_FALSE(readTracingEnabled()) << "REG_SZ";
  const DWORD one = 1;
  values.set(KEY_WOW64_32KEY, REG_BINARY, &one, sizeof(one));
  EXPECT_FALSE(readTracingEnabled()) << "four bytes of another type";

  values.setDword(KEY_WOW64_32KEY, 0);
  EXPECT_FALSE(readTracingEnabled()) << "zero";
  values.setDword(KEY_WOW64_32KEY, 7);
  EXPECT_TRUE(readTracingEnabled()) << "non-zero";
  values.setDword(KEY_WOW64_32KEY, 1);
  EXPECT_TRUE(readTracingEnabled()) << "one";
}

TEST(TracingEnabled, TheExcludedHostsNeverTraceWhateverTheCaseOfTheirNames) {
  TracingSwitch values;
  values.setDword(KEY_WOW64_32KEY, 1);
  ScratchFolder folder(L"kestrin_excluded_");
  // The same host under any other name traces, so it is the name that switched it off.
  struct Case {
    const wchar_t* name;
    const char* output;
  };
  for (const Case& c : {Case{L"LarkModule.DLL", "enabled=0\r\n"}, Case{L"larkmodule.dll", "enabled=0\r\n"},
                        Case{L"WRENMODULE.dll", "enabled=0\r\n"}, Case{L"wrenModule.Dll", "enabled=0\r\n"},
                        Case{L"larkmodule.exe", "enabled=1\r\n"}, Case{L"xlarkmodule.dll", "enabled=1\r\n"}}) {
    const ProcessResult run = runProcess(folder.placeHost(L"driver_probe.exe", c.name), L"enabled", folder.path);
    EXPECT_EQ(run.output, c.output) << c.name;
  }
}

TEST(DriverState, DecidesOnCreationAndLoadsNothingBeforeTheFirstSpan) {
  TracingSwitch values;
  values.setDword(KEY_WOW64_32KEY, 1);
  OpenTracingDriverState enabled;
  EXPECT_EQ(enabled.enabled.load(), 1);
  EXPECT_EQ(enabled.library, nullptr);
  EXPECT_TRUE(TryEnterCriticalSection(enabled.lock.get()));
  LeaveCriticalSection(enabled.lock.get());
  values.setDword(KEY_WOW64_32KEY, 0);
  EXPECT_EQ(OpenTracingDriverState().enabled.load(), 0);
}

TEST(StartSpan, WithTracingOffHandsOutTheDoNothingSpanAndNeverLoadsTheProvider) {
  TracingSwitch values;
  values.setDword(KEY_WOW64_32KEY, 0);
  const auto span = OpenTracingDriver::StartSpan("StartSpanTest", __LINE__, "off");
  ASSERT_NE(span, nullptr);
  EXPECT_FALSE(span->IsEnabled());
  span->SetError("no effect");
  span->SetTag("key", "value");
  EXPECT_FALSE(OpenTracingDriver::IsEnabled());
  EXPECT_EQ(GetModuleHandleW(L"opentracingprovider.dll"), nullptr);
  EXPECT_EQ(getExecuteContext()->driverState->library, nullptr);
}

// A provider that cannot serve switches tracing off for good, and an injection never raises into
// the host: it leaves the variable alone. The provider in the current folder, on the search path,
// is not the executable's own.
TEST(StartSpan, AProviderMissingBesideTheExecutableOrLackingAnExportSwitchesTracingOffForGood) {
  TracingSwitch values;
  values.setDword(KEY_WOW64_32KEY, 1);
  struct Case {
    std::wstring arguments;
    const wchar_t* provider;  // copied beside the host as the provider
    const char* output;
  };
  for (const Case& c :
       {Case{L"span \"" + executableFolder() + L"\"", nullptr,
             "first=0 tracing=0 library=0 entries=0 loaded=0 copied=1 second=0 loaded=0\r\n"},
        Case{L"span", L"partialprovider.dll", "first=0 tracing=0 library=0 entries=0 loaded=0\r\n"},
        Case{L"inject", nullptr, "tracing=0 variable=0 loaded=0\r\n"}}) {
    ScratchFolder folder(L"kestrin_noprovider_");
    const std::wstring host = folder.placeHost(L"driver_probe.exe", L"driver_probe.exe");
    if (c.provider) {
      ASSERT_TRUE(CopyFileW((executableFolder() + L"\\" + c.provider).c_str(),
                            (folder.path + L"\\opentracingprovider.dll").c_str(), FALSE));
    }
    const ProcessResult run = runProcess(host, c.arguments, executableFolder());
    EXPECT_EQ(run.exitCode, 0u) << c.arguments;
    EXPECT_EQ(run.output, c.output) << c.arguments;
  }
}
