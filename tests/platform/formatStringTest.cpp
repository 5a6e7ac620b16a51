#include "platform/formatString.h"

#include <cstdint>

#include <gtest/gtest.h>

#include "tests/platform/raised.h"

namespace {

TEST(FormatString, FollowsMicrosoftConventionsAndRaisesForAnInvalidFormat) {
  EXPECT_EQ(formatString("%s (%s %d)", std::string("span"), "fn", -3), "span (fn -3)");
  // %s is a wide string and %S a narrow one in a wide format, whatever the compiler's default.
  EXPECT_EQ(formatString(L"CreateDirectory(%s) %s", std::wstring(L"C:\\a b"), L"x.dll"),
            L"CreateDirectory(C:\\a b) x.dll");
  EXPECT_EQ(formatString(L"GetProcAddress(%S)", "OpenTracingProviderGetTracer"),
            L"GetProcAddress(OpenTracingProviderGetTracer)");
  // %lu and %lx are 32 bits wide: a value with high garbage bits in a 64-bit register must not leak.
  EXPECT_EQ(formatString(L"code 0x%lx %lu %d", uint32_t{0x80070057u}, 4294967295u, -1),
            L"code 0x80070057 4294967295 -1");
  const uint16_t y = 2026, mo = 3, d = 7, ms = 9;  // date fields promoted from sixteen bits
  EXPECT_EQ(formatString(L"%04d%s%02d%s%02d.%03d", y, L"-", mo, L"-", d, ms), L"2026-03-07.009");
  const std::wstring part(5000, L'x');
  EXPECT_EQ(formatString(L"[%s|%s]", part, part), L"[" + part + L"|" + part + L"]");

  const auto wide = raised<ArgumentException>([] { formatString(static_cast<const wchar_t*>(nullptr)); });
  EXPECT_EQ(wide.message, L"_scwprintf() failed: invalid arguments");
  const auto narrow = raised<ArgumentException>([] { formatString(static_cast<const char*>(nullptr)); });
  EXPECT_EQ(narrow.message, L"_scprintf() failed: invalid arguments");
  EXPECT_EQ(site(wide) + " " + site(narrow), "getFormatStringSize:585 getFormatStringSize:574");
}

}  // namespace
