// The platform's texts: formats, code pages, paths, environment blocks, time stamps, module names.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/VDateTime.h"
#include "platform/VEnvironmentVariables.h"
#include "platform/VFileName.h"
#include "platform/formatString.h"
#include "platform/moduleName.h"
#include "platform/stringConversion.h"
#include "tests/platform/raised.h"

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

  const auto wide = raised<ArgumentException>([] { formatString(static_cast<const wchar_t*>(nullptr)); });
  EXPECT_EQ(wide.message, L"_scwprintf() failed: invalid arguments");
  const auto narrow = raised<ArgumentException>([] { formatString(static_cast<const char*>(nullptr)); });
  EXPECT_EQ(narrow.message, L"_scprintf() failed: invalid arguments");
  EXPECT_EQ(site(wide) + " " + site(narrow), "getFormatStringSize:585 getFormatStringSize:574");
}

TEST(SystemTexts, CodePagesRoundTripThroughUtf8AndAnsiAnUnknownOneOrAStaleModuleRaises) {
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

  const auto e = raised<vosexception>([] { moduleName(reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x10))); });
  EXPECT_NE(e.message.find(L" at GetModuleFileName"), std::wstring::npos);
  EXPECT_EQ(e.sites.at(0).function, "moduleName");
}

TEST(VFileName, PathsAreCutAndJoinedLikeWindowsKeepingPrefixesRootsAndEnds) {
  using Change = std::wstring (*)(const std::wstring&);
  const struct {
    Change change;
    std::vector<std::pair<const wchar_t*, const wchar_t*>> fromTo;
  } rows[] = {
      {VFileName::normalize,
       {{L"D:/a/./b/../c/", L"D:\\a\\c\\"}, {L"a\\B\\..\\..\\..\\..\\x", L"..\\..\\x"},
        {L"D:\\a\\.\\.\\b\\..", L"D:\\a"}, {L"//?/D:/a", L"\\\\?\\D:\\a"}, {L"\\", L"\\"}, {L"", L""},
        {L"\\\\.\\pipe\\x", L"\\\\.\\pipe\\x"}, {L"\\\\server\\share\\x", L"\\server\\share\\x"},
        {L"\\\\?\\D:\\..\\x", L"\\\\?\\D:\\x"}}},
      {VFileName::longPath,
       {{L"D:", L"\\\\?\\D:\\"}, {L"D:/a/../b/", L"\\\\?\\D:\\b\\"},
        {L"\\\\server\\share", L"\\\\server\\share"}}},
      {VFileName::addBackslash, {{L"", L"\\"}, {L"D:\\x\\", L"D:\\x\\"}}},
      {VFileName::removeFileSpec, {{L"D:/a/./c/../b.txt", L"D:\\a"}, {L"D:", L"D:\\"}}},
      {VFileName::fileName, {{L"D:/dir/file.txt", L"file.txt"}}},
      {VFileName::extension, {{L"D:\\a.b\\c", L""}, {L"x.tar.gz", L".gz"}}},
      {VFileName::removeExtension,
       {{L"D:\\bin\\provider.dll", L"D:\\bin\\provider"}, {L"D:\\a.b\\c", L"D:\\a.b\\c"}}},
      {VFileName::directory, {{L"D:\\dir//file.txt", L"D:\\dir"}, {L"file.txt", L""}}},
      {VFileName::removeBackslash, {{L"D:\\dir\\\\/", L"D:\\dir"}, {L"\\/\\", L""}, {L"D:\\dir", L"D:\\dir"}}},
  };
  for (const auto& row : rows) {
    for (const auto& [from, to] : row.fromTo) EXPECT_EQ(row.change(from), to) << "from " << from;
  }

  // Whether the inner "/" becomes "\" is the system's choice; the leading separators must not
  // make the relative part root-relative.
  std::wstring joined = VFileName::combine(L"D:\\logs", L"\\\\sub/file.log");
  for (wchar_t& c : joined) c = c == L'/' ? L'\\' : c;
  EXPECT_EQ(joined, L"D:\\logs\\sub\\file.log");
  EXPECT_EQ(VFileName::combine(L"D:\\a\\..\\b\\", L"c"), L"D:\\b\\c");
  const std::wstring deep = L"C:\\" + std::wstring(300, L'd');
  EXPECT_EQ(VFileName::combine(deep, L"f.txt"), deep + L"\\f.txt");
  EXPECT_EQ(VFileName::removeFileSpec(deep + L"\\f.txt"), deep);
  // Beyond the extended-length maximum of 32767 characters; the failure carries an HRESULT.
  const std::wstring huge = L"C:\\" + std::wstring(40000, L'x');
  const std::wstring text = failure([&] { VFileName::combine(huge, L"/y"); });
  EXPECT_EQ(text.rfind(L"PathAllocCombine(" + huge + L", /y) failed: error code 0x", 0), 0u);
  EXPECT_NE(text.find(L" at VFileName::combine:70"), std::wstring::npos);
}

TEST(VEnvironmentVariables, ParsesBlocksLikeWindowsAddingToWhatIsThere) {
  VEnvironmentVariables env;
  // Each entry ends with a zero and the block with one more.
  env.load(L"Path=a\0X=a=b\0LONELY\0PATH=b\0=D:=D:\\work\0=C:=C:\\\0");
  std::wstring entries;
  for (const auto& [name, value] : env) entries += name + L"=" + value + L";";
  // Names compare without case: the first spelling stays, the last value wins.
  EXPECT_EQ(entries, L"=C:=C:\\;=D:=D:\\work;LONELY=;Path=b;X=a=b;");
  env.load(L"\0");
  env.load(L"B=2\0x=3\0");
  EXPECT_EQ(env.size(), 6u);
  EXPECT_EQ(env[L"X"], L"3");
  EXPECT_EQ(failure([&] { env.load(nullptr); }), L"Parameter is null at VEnvironmentVariables::load:21");
  EXPECT_EQ(env.size(), 6u);
}

// Calendar fields in SYSTEMTIME order: year, month, day of the week, day, hour, minute, second, ms.
static VDateTime at(const SYSTEMTIME& calendar) {
  VDateTime value;
  std::memcpy(static_cast<void*>(&value), &calendar, sizeof calendar);
  return value;
}

static FILETIME fileTime(uint64_t ticks) {
  return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

TEST(VDateTime, OrdersAndFormatsCalendarFieldsAndComesFromFileTimes) {
  const VDateTime base = at({2024, 5, 1, 6, 7, 8, 9, 10});
  EXPECT_EQ(base.compare(at({2024, 5, 4, 6, 7, 8, 9, 10})), 0);  // the day of the week takes no part
  EXPECT_EQ(at({2024, 5, 1, 6, 7, 8, 9, 11}).compare(base), 1);
  EXPECT_EQ(at({2023, 12, 0, 31, 23, 59, 59, 999}).compare(base), -1);
  EXPECT_EQ(base.format(L""), L"20240506 07:08:09.010");
  EXPECT_EQ(at({999, 12, 0, 31, 0, 0, 0, 0}).dateStamp(), L"09991231");

  EXPECT_EQ(VDateTime(fileTime(0)).format(L"-"), L"1601-01-01 00:00:00.000");
  const VDateTime known(fileTime(133594528890100000ull));  // 2024-05-06 07:08:09.010 UTC, a Monday
  EXPECT_EQ(known.format(L"/"), L"2024/05/06 07:08:09.010");
  EXPECT_EQ(known.dayOfWeek, 1);
  EXPECT_EQ(VDateTime(fileTime(0x7FFFFFFFFFFFFFFFull)).year, 30828);
  const auto beyond = raised<vosexception>([] { VDateTime{fileTime(0x8000000000000000ull)}; });
  EXPECT_NE(beyond.message.find(L" at FileTimeToSystemTime"), std::wstring::npos);
  EXPECT_EQ(site(beyond), "VDateTime::VDateTime:40");
}
