#include "platform/stringConversion.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "tests/platform/raised.h"

namespace {

TEST(StringConversion, RoundTripsThroughUtf8AndAnsiAndRefusesAnUnknownCodePage) {
  const std::wstring text(L"Tool.Name \u00e9\u4e2d\0z", 14);
  const std::string utf8("Tool.Name \xc3\xa9\xe4\xb8\xad\0z", 17);
  EXPECT_EQ(cstr(text, CP_UTF8), utf8);
  EXPECT_EQ(wstr(utf8, CP_UTF8), text);
  // The ANSI code page has no CJK characters: the system substitutes its default character.
  CPINFO info{};
  ASSERT_TRUE(GetCPInfo(CP_ACP, &info));
  const std::string cjk = GetACP() == CP_UTF8 ? "\xe4\xb8\xad" : std::string(1, info.DefaultChar[0]);
  EXPECT_EQ(cstr(L"a\u4e2db", 0), "a" + cjk + "b");

  EXPECT_EQ(cstr(L"", 12345), "");
  EXPECT_EQ(wstr("", 12345), L"");
  const auto narrow = raised<vosexception>([] { cstr(L"text", 12345); });
  const auto wide = raised<vosexception>([] { wstr("text", 12345); });
  EXPECT_EQ(narrow.code, static_cast<uint32_t>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(wide.code, static_cast<uint32_t>(ERROR_INVALID_PARAMETER));
  EXPECT_NE(narrow.message.find(L" at Maps a wide-character (Unicode) string to a character stringz"),
            std::wstring::npos);
  EXPECT_EQ(narrow.sites.at(0).function + " " + site(wide), "cstr wstr:35");
}

}  // namespace
