#include "platform/VDateTime.h"

#include <gtest/gtest.h>

#include <cstring>

#include "tests/platform/raised.h"

namespace {

// Fields in SYSTEMTIME order: year, month, day of the week, day, hour, minute, second, milliseconds.
VDateTime at(const SYSTEMTIME& calendar) {
  VDateTime value;
  std::memcpy(static_cast<void*>(&value), &calendar, sizeof calendar);
  return value;
}

FILETIME fileTime(uint64_t ticks) { return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)}; }

TEST(VDateTime, OrdersAndFormatsCalendarFieldsAndComesFromFileTimesAndTheClock) {
  const VDateTime base = at({2024, 5, 1, 6, 7, 8, 9, 10});
  EXPECT_EQ(base.compare(at({2024, 5, 4, 6, 7, 8, 9, 10})), 0);  // the day of the week takes no part
  EXPECT_EQ(at({2024, 5, 1, 6, 7, 8, 9, 11}).compare(base), 1);
  EXPECT_EQ(at({2023, 12, 0, 31, 23, 59, 59, 999}).compare(base), -1);
  EXPECT_EQ(base.format(L""), L"20240506 07:08:09.010");
  EXPECT_EQ(base.dateStamp(), L"20240506");
  EXPECT_EQ(at({999, 12, 0, 31, 0, 0, 0, 0}).dateStamp(), L"09991231");

  EXPECT_EQ(VDateTime(fileTime(0)).format(L"-"), L"1601-01-01 00:00:00.000");
  const VDateTime known(fileTime(133594528890100000ull));  // 2024-05-06 07:08:09.010 UTC, a Monday
  EXPECT_EQ(known.format(L"/"), L"2024/05/06 07:08:09.010");
  EXPECT_EQ(known.dayOfWeek, 1);
  EXPECT_EQ(VDateTime(fileTime(0x7FFFFFFFFFFFFFFFull)).year, 30828);
  const auto beyond = raised<vosexception>([] { VDateTime{fileTime(0x8000000000000000ull)}; });
  EXPECT_NE(beyond.message.find(L" at FileTimeToSystemTime"), std::wstring::npos);
  EXPECT_EQ(site(beyond), "VDateTime::VDateTime:40");

  SYSTEMTIME before, after;
  GetLocalTime(&before);
  const VDateTime now;
  GetLocalTime(&after);
  EXPECT_GE(now.compare(at(before)), 0);
  EXPECT_LE(now.compare(at(after)), 0);
}

}  // namespace
