#include "platform/stringConversion.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "diagnostics/vexception.h"
#include "tests/platform/raised.h"

TEST(StringConversion, RoundTripsThroughUtf8AndAnsi) {
  const std::wstring text = L"Tool.Name \u00e9\u4e2d";
  EXPECT_EQ(cstr(text, CP_UTF8), "Tool.Name \xc3\xa9\xe4\xb8\xad");
  EXPECT_EQ(wstr("Tool.Name \xc3\xa9\xe4\xb8\xad", CP_UTF8), text);
  EXPECT_EQ(wstr(cstr(L"plain ascii", 0), 0), L"plain ascii");
}

TEST(StringConversion, EmbeddedZerosSurvive) {
  const std::wstring wide = wstr(std::string("a\0b", 3), 0);
  ASSERT_EQ(wide.size(), 3u);
  EXPECT_EQ(wide[1], L'\0');
  EXPECT_EQ(wide[2], L'b');
  EXPECT_EQ(cstr(std::wstring(L"x\0y", 3), CP_UTF8), std::string("x\0y", 3));
}

TEST(StringConversion, UnrepresentableBecomesDefaultCharacter) {
  // The ANSI code page has no CJK characters: the system substitutes its default character.
  CPINFO info{};
  ASSERT_TRUE(GetCPInfo(CP_ACP, &info));
  if (GetACP() == CP_UTF8) GTEST_SKIP() << "ANSI code page is UTF-8 here";
  const std::string narrow = cstr(L"a\u4e2db", 0);
  ASSERT_EQ(narrow.size(), 3u);
  EXPECT_EQ(narrow[0], 'a');
  EXPECT_EQ(narrow[1], static_cast<char>(info.DefaultChar[0]));
  EXPECT_EQ(narrow[2], 'b');
}

TEST(StringConversion, InvalidCodePageRaisesWithParameterError) {
  EXPECT_EQ(cstr(L"", 12345), "");
  EXPECT_EQ(wstr("", 12345), L"");
  try {
    cstr(L"text", 12345);
    FAIL();
  } catch (const vosexception& e) {
    EXPECT_EQ(e.code, 87u);
    EXPECT_TRUE(typeid(e) == typeid(vosexception));
    EXPECT_NE(e.message.find(L" at Maps a wide-character (Unicode) string to a character stringz"), std::wstring::npos);
    EXPECT_EQ(e.sites.at(0).function, "cstr");
  }
  const auto e = raised<vosexception>([] { wstr("text", 12345); });
  EXPECT_EQ(e.code, 87u);
  EXPECT_EQ(e.sites.at(0).function + ":" + std::to_string(e.sites[0].line), "wstr:35");
}
