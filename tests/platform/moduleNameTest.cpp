#include "platform/moduleName.h"

#include <gtest/gtest.h>

#include "tests/platform/raised.h"

TEST(ModuleName, NamesAModuleAndRaisesForAStaleHandle) {
  std::wstring kernel = moduleName(GetModuleHandleW(L"kernel32.dll"));
  for (wchar_t& c : kernel) c = towlower(c);
  EXPECT_NE(kernel.find(L"\\kernel32.dll"), std::wstring::npos) << kernel.size();
  const auto e = raised<vosexception>([] { moduleName(reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x10))); });
  EXPECT_NE(e.message.find(L" at GetModuleFileName"), std::wstring::npos);
  EXPECT_EQ(e.sites.at(0).function, "moduleName");
}
