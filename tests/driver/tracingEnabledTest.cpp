// Whether a process traces: the switch in the registry, the host's name, and a provider beside the
// executable that can serve.
#include "driver/readTracingEnabled.h"

#include <gtest/gtest.h>

#include "diagnostics/ExecuteContext.h"
#include "driver/OpenTracingDriver.h"
#include "driver/OpenTracingDriverState.h"
#include "tests/driver/childProcess.h"
#include "tests/support/productSettings.h"

namespace {

const wchar_t kSwitch[] = L"opentracing_enabled";

}  // namespace

TEST(TracingEnabled, OnlyANonZeroDwordInThe32BitViewSwitchesTracingOn) {
  ProductSettings values;
  ProductSettings values64(KEY_WOW64_64KEY);
  values.remove(kSwitch);
  values64.set(kSwitch, 1);
  EXPECT_FALSE(readTracingEnabled()) << "only in the 64-bit view";
  // REG_SZ "1" and REG_BINARY 1 are four bytes too.
  const wchar_t text[] = L"1";
  const DWORD zero = 0, seven = 7;
  const struct {
    DWORD type;
    const void* data;
    bool on;
  } values32[] = {
      {REG_SZ, text, false}, {REG_BINARY, &seven, false}, {REG_DWORD, &zero, false}, {REG_DWORD, &seven, true}};
  for (const auto& value : values32) {
    values.set(kSwitch, value.type, value.data, 4);
    EXPECT_EQ(readTracingEnabled(), value.on) << "type " << value.type;
  }
}

// The same host under any other name traces, so it is the name that switched it off.
TEST(TracingEnabled, TheExcludedHostsNeverTraceWhateverTheCaseOfTheirNames) {
  ProductSettings values;
  values.set(kSwitch, 1);
  ScratchFolder folder(L"kestrin_excluded_");
  for (const auto& host : {std::make_pair(L"LarkModule.DLL", "enabled=0\r\n"), {L"wrenModule.Dll", "enabled=0\r\n"},
                           {L"larkmodule.exe", "enabled=1\r\n"}, {L"xlarkmodule.dll", "enabled=1\r\n"}}) {
    const std::wstring path = folder.placeHost(L"driver_probe.exe", host.first);
    EXPECT_EQ(runProcess(path, L"enabled", folder.path).output, host.second) << host.first;
  }
}

// The state reads the switch as it is made and loads the provider only for a span it traces.
TEST(DriverState, DecidesOnCreationAndLoadsTheProviderOnlyForATracedSpan) {
  ProductSettings values;
  values.set(kSwitch, 1);
  const OpenTracingDriverState on;
  values.set(kSwitch, 0);
  EXPECT_FALSE(OpenTracingDriver::StartSpan("StartSpanTest", __LINE__, "off")->IsEnabled());
  EXPECT_FALSE(OpenTracingDriver::IsEnabled());
  EXPECT_EQ(GetModuleHandleW(L"opentracingprovider.dll"), nullptr);
}

// A provider that cannot serve switches tracing off for good, and an injection never raises into
// the host: it leaves the variable alone. The provider in the current folder, on the search path,
// is not the executable's own.
TEST(StartSpan, AProviderMissingBesideTheExecutableOrLackingAnExportSwitchesTracingOffForGood) {
  ProductSettings values;
  values.set(kSwitch, 1);
  const struct {
    std::wstring arguments;
    const wchar_t* provider;  // copied beside the host as the provider
    const char* output;
  } cases[] = {{L"span \"" + executableFolder() + L"\"", nullptr,
                "first=0 tracing=0 library=0 entries=0 loaded=0 copied=1 second=0 loaded=0\r\n"},
               {L"span", L"partialprovider.dll", "first=0 tracing=0 library=0 entries=0 loaded=0\r\n"},
               {L"inject", nullptr, "tracing=0 variable=0 loaded=0\r\n"}};
  for (const auto& c : cases) {
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
