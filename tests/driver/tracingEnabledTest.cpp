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
  for (const wchar_t* name : {L"LarkModule.DLL", L"larkmodule.dll", L"WRENMODULE.dll", L"wrenModule.Dll"}) {
    const ProcessResult run = runProcess(folder.placeHost(L"driver_probe.exe", name), L"enabled", folder.path);
    EXPECT_EQ(run.output, "enabled=0\r\n") << name;
  }
  // The same host under any other name traces, so it is the name that switched it off.
  for (const wchar_t* name : {L"larkmodule.exe", L"xlarkmodule.dll"}) {
    const ProcessResult run = runProcess(folder.placeHost(L"driver_probe.exe", name), L"enabled", folder.path);
    EXPECT_EQ(run.output, "enabled=1\r\n") << name;
  }
}

TEST(DriverState, DecidesOnCreationAndLoadsNothingBeforeTheFirstSpan) {
  TracingSwitch values;
  values.setDword(KEY_WOW64_32KEY, 1);
  OpenTracingDriverState enabled;
  EXPECT_EQ(enabled.enabled.load(), 1);
  EXPECT_EQ(enabled.tracer, nullptr);
  EXPECT_EQ(enabled.library, nullptr);
  EXPECT_NE(enabled.lock.get(), nullptr);
  EXPECT_EQ(enabled.getTracer, nullptr);
  EXPECT_EQ(enabled.getSpanContext, nullptr);
  EXPECT_EQ(enabled.injectCurrentSpan, nullptr);
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

TEST(StartSpan, AProviderMissingBesideTheExecutableSwitchesTracingOffForGood) {
  TracingSwitch values;
  values.setDword(KEY_WOW64_32KEY, 1);
  ScratchFolder folder(L"kestrin_noprovider_");
  const std::wstring host = folder.placeHost(L"driver_probe.exe", L"driver_probe.exe");
  // The provider in the current folder, on the search path, is not the executable's own.
  const ProcessResult run = runProcess(host, L"span \"" + executableFolder() + L"\"", executableFolder());
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_EQ(run.output, "first=0 tracing=0 library=0 entries=0 loaded=0 copied=1 second=0 loaded=0\r\n");
}

TEST(StartSpan, AProviderWithoutAllThreeExportsIsNeitherKeptNorUsed) {
  TracingSwitch values;
  values.setDword(KEY_WOW64_32KEY, 1);
  ScratchFolder folder(L"kestrin_partialprovider_");
  const std::wstring host = folder.placeHost(L"driver_probe.exe", L"driver_probe.exe");
  ASSERT_TRUE(CopyFileW((executableFolder() + L"\\partialprovider.dll").c_str(),
                        (folder.path + L"\\opentracingprovider.dll").c_str(), FALSE));
  const ProcessResult run = runProcess(host, L"span", folder.path);
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_EQ(run.output, "first=0 tracing=0 library=0 entries=0 loaded=0\r\n");
}

// An injection never raises into the host: a provider that cannot be loaded switches tracing off,
// as a span start does, and leaves the variable alone.
TEST(InjectCurrentSpan, AProviderMissingBesideTheExecutableSwitchesTracingOff) {
  TracingSwitch values;
  values.setDword(KEY_WOW64_32KEY, 1);
  ScratchFolder folder(L"kestrin_inject_");
  const std::wstring host = folder.placeHost(L"driver_probe.exe", L"driver_probe.exe");
  const ProcessResult run = runProcess(host, L"inject", folder.path);
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_EQ(run.output, "tracing=0 variable=0 loaded=0\r\n");
}
