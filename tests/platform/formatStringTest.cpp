#include "platform/formatString.h"

#include <cstdint>

#include <gtest/gtest.h>

#include "diagnostics/vexception.h"
#include "tests/platform/raised.h"

TEST(FormatString, NarrowFormsOfTheProvider) {
  EXPECT_EQ(formatString("NEW: %s", std::string("recyclerPath 1031")), "NEW: recyclerPath 1031");
  EXPECT_EQ(formatString("%s %d", "recyclerPath", 1031), "recyclerPath 1031");
  EXPECT_EQ(formatString("%s (%s %d)", std::string("span"), std::string("fn"), -3), "span (fn -3)");
  EXPECT_EQ(formatString("no conversions"), "no conversions");
  EXPECT_EQ(formatString("%s", ""), "");
}

TEST(FormatString, WideFollowsMicrosoftConventions) {
  // %s is a wide string and %S a narrow one in a wide format, whatever the compiler's default.
  EXPECT_EQ(formatString(L"CreateDirectory(%s)", std::wstring(L"C:\\a b")), L"CreateDirectory(C:\\a b)");
  EXPECT_EQ(formatString(L"GetProcAddress(%S)", "OpenTracingProviderGetTracer"),
            L"GetProcAddress(OpenTracingProviderGetTracer)");
  EXPECT_EQ(formatString(L"Unable to load library (%s)", L"x.dll"), L"Unable to load library (x.dll)");
  // %lu and %lx are 32 bits wide: a value with high garbage bits in a 64-bit register must not leak.
  const uint32_t code = 0x80070057u;
  EXPECT_EQ(formatString(L"PathAllocCombine(%s, %s) failed: error code 0x%lx", L"a", L"b", code),
            L"PathAllocCombine(a, b) failed: error code 0x80070057");
  EXPECT_EQ(formatString(L" (Error code %lu)", 4294967295u), L" (Error code 4294967295)");
  EXPECT_EQ(formatString(L"Unable to get ACL ACE (%d)", -1), L"Unable to get ACL ACE (-1)");
}

TEST(FormatString, DateFieldsPromotedFromSixteenBits) {
  const uint16_t y = 2026, mo = 3, d = 7, h = 4, mi = 5, s = 6, ms = 9;
  EXPECT_EQ(formatString(L"%04d%02d%02d", y, mo, d), L"20260307");
  EXPECT_EQ(formatString(L"%04d%s%02d%s%02d %02d:%02d:%02d.%03d", y, L"-", mo, L"-", d, h, mi, s, ms),
            L"2026-03-07 04:05:06.009");
}

TEST(FormatString, LongResultsAreWhole) {
  const std::wstring part(5000, L'x');
  const std::wstring out = formatString(L"[%s|%s]", part, part);
  ASSERT_EQ(out.size(), 10003u);
  EXPECT_EQ(out.front(), L'[');
  EXPECT_EQ(out[5001], L'|');
  EXPECT_EQ(out.back(), L']');
  EXPECT_EQ(out.c_str()[out.size()], L'\0');
}

TEST(FormatString, InvalidFormatRaisesArgumentException) {
  const auto wide = raised<ArgumentException>([] { formatString(static_cast<const wchar_t*>(nullptr)); });
  EXPECT_EQ(wide.message, L"_scwprintf() failed: invalid arguments");
  EXPECT_EQ(wide.sites.at(0).function + ":" + std::to_string(wide.sites[0].line), "getFormatStringSize:585");
  const auto narrow = raised<ArgumentException>([] { formatString(static_cast<const char*>(nullptr)); });
  EXPECT_EQ(narrow.message, L"_scprintf() failed: invalid arguments");
  EXPECT_EQ(narrow.sites.at(0).line, 574);
}
