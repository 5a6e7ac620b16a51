#include "platform/moduleName.h"

#include <gtest/gtest.h>

#include "diagnostics/vexception.h"
#include "tests/platform/raised.h"

TEST(ModuleName, NamesTheExecutableAndRaisesForAStaleHandle) {
  const std::wstring exe = moduleName(nullptr);
  ASSERT_GT(exe.size(), 4u);
  EXPECT_EQ(exe.substr(exe.size() - 19), L"\\platform_tests.exe");
  std::wstring kernel = moduleName(GetModuleHandleW(L"kernel32.dll"));
  for (wchar_t& c : kernel) c = towlower(c);
  EXPECT_NE(kernel.find(L"\\kernel32.dll"), std::wstring::npos) << kernel.size();
  HMODULE bogus = reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x10));
  const auto e = raised<vosexception>([&] { moduleName(bogus); });
  EXPECT_NE(e.code, 0u);
  EXPECT_EQ(e.sites.at(0).function, "moduleName");
  EXPECT_NE(e.message.find(L" at GetModuleFileName"), std::wstring::npos);
}
