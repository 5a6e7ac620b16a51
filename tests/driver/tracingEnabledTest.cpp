// Whether a process traces: the registry switch, the host's name, a provider beside it that serves.
#include "driver/readTracingEnabled.h"

#include <gtest/gtest.h>

#include "tests/driver/childProcess.h"
#include "tests/support/productSettings.h"

// Only a non-zero DWORD in the 32-bit view switches tracing on; the current folder's provider is
// not the host's own, and a failed load switches tracing off for good.
TEST(TracingEnabled, OnANonZeroDwordInThe32BitViewForHostsNotExcludedWithAProviderThatServes) {
  ProductSettings values;
  ProductSettings values64(KEY_WOW64_64KEY);
  values.remove(L"opentracing_enabled");
  values64.set(L"opentracing_enabled", 1);
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
    values.set(L"opentracing_enabled", value.type, value.data, 4);
    EXPECT_EQ(readTracingEnabled(), value.on) << "type " << value.type;
  }

  const std::wstring bin = executableFolder();
  const struct {
    const wchar_t* name;
    std::wstring arguments;
    const wchar_t* provider;  // copied beside the host as the provider
    const char* output;
  } hosts[] = {{L"LarkModule.DLL", L"span", L"opentracingprovider.dll", "first=0 tracing=0 loaded=0\r\n"},
               {L"wrenModule.Dll", L"span", L"opentracingprovider.dll", "first=0 tracing=0 loaded=0\r\n"},
               {L"larkmodule.exe", L"span", L"opentracingprovider.dll", "first=1 tracing=1 loaded=1\r\n"},
               {L"xlarkmodule.dll", L"span", L"opentracingprovider.dll", "first=1 tracing=1 loaded=1\r\n"},
               {L"driver_probe.exe", L"span \"" + bin + L"\"", nullptr,
                "first=0 tracing=0 loaded=0 copied=1 second=0 loaded=0\r\n"},
               {L"driver_probe.exe", L"span", L"partialprovider.dll", "first=0 tracing=0 loaded=0\r\n"},
               {L"driver_probe.exe", L"inject", nullptr, "tracing=0 variable=0 loaded=0\r\n"}};
  for (const auto& host : hosts) {
    ScratchFolder folder(L"kestrin_probe_");
    const std::wstring path = folder.placeHost(L"driver_probe.exe", host.name);
    const std::wstring provider = folder.path + L"\\opentracingprovider.dll";
    ASSERT_TRUE(!host.provider || CopyFileW((bin + L"\\" + host.provider).c_str(), provider.c_str(), FALSE));
    EXPECT_EQ(runProcess(path, host.arguments, bin).output, host.output) << host.name << " " << host.arguments;
  }
}
