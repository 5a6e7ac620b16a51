#include "platform/VDateTime.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "diagnostics/vexception.h"

namespace {

VDateTime stamp(uint16_t year, uint16_t month, uint16_t day, uint16_t hour, uint16_t minute, uint16_t second,
                uint16_t milliseconds, uint16_t dayOfWeek = 0) {
  VDateTime value;
  value.year = year;
  value.month = month;
  value.dayOfWeek = dayOfWeek;
  value.day = day;
  value.hour = hour;
  value.minute = minute;
  value.second = second;
  value.milliseconds = milliseconds;
  return value;
}

FILETIME fileTime(uint64_t ticks) { return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)}; }

}  // namespace

TEST(VDateTime, OrdersByCalendarFieldsIgnoringTheDayOfTheWeek) {
  const VDateTime base = stamp(2024, 5, 6, 7, 8, 9, 10, 1);
  EXPECT_EQ(base.compare(stamp(2024, 5, 6, 7, 8, 9, 10, 4)), 0);
  EXPECT_EQ(stamp(2024, 5, 6, 7, 8, 9, 11).compare(base), 1);
  EXPECT_EQ(stamp(2023, 12, 31, 23, 59, 59, 999).compare(base), -1);
  std::vector<VDateTime> times{stamp(2024, 5, 6, 7, 8, 10, 0), base, stamp(2024, 5, 6, 7, 9, 0, 0),
                               stamp(2024, 1, 30, 0, 0, 0, 0)};
  std::sort(times.begin(), times.end());
  for (size_t i = 1; i < times.size(); ++i) EXPECT_EQ(times[i - 1].compare(times[i]), -1);
}

TEST(VDateTime, FormatsPaddedFields) {
  const VDateTime base = stamp(2024, 5, 6, 7, 8, 9, 10);
  EXPECT_EQ(base.format(L"/"), L"2024/05/06 07:08:09.010");
  EXPECT_EQ(base.format(L""), L"20240506 07:08:09.010");
  EXPECT_EQ(base.format(L"-"), L"2024-05-06 07:08:09.010");
  EXPECT_EQ(base.dateStamp(), L"20240506");
  EXPECT_EQ(stamp(999, 12, 31, 0, 0, 0, 0).dateStamp(), L"09991231");
}

TEST(VDateTime, ComesFromFileTimesAndTheLocalClock) {
  const VDateTime epoch(fileTime(0));
  EXPECT_EQ(epoch.format(L"-"), L"1601-01-01 00:00:00.000");
  EXPECT_EQ(epoch.dayOfWeek, 1);
  // 2024-05-06 07:08:09.010 UTC, a Monday.
  const VDateTime known(fileTime(133594528890100000ull));
  EXPECT_EQ(known.format(L"/"), L"2024/05/06 07:08:09.010");
  EXPECT_EQ(known.dayOfWeek, 1);
  EXPECT_EQ(VDateTime(fileTime(0x7FFFFFFFFFFFFFFFull)).year, 30828);

  const auto beyond = [](uint64_t ticks) {
    try {
      VDateTime{fileTime(ticks)};
    } catch (const vosexception& e) {
      EXPECT_NE(e.message.find(L" at FileTimeToSystemTime"), std::wstring::npos);
      EXPECT_EQ(e.sites.at(0).function, "VDateTime::VDateTime");
      EXPECT_EQ(e.sites.at(0).line, 40);
      return;
    }
    ADD_FAILURE() << "file time " << ticks << " converted";
  };
  beyond(0x8000000000000000ull);
  beyond(~0ull);

  SYSTEMTIME before, after;
  GetLocalTime(&before);
  const VDateTime now;
  GetLocalTime(&after);
  EXPECT_GE(now.compare(stamp(before.wYear, before.wMonth, before.wDay, before.wHour, before.wMinute,
                              before.wSecond, before.wMilliseconds)), 0);
  EXPECT_LE(now.compare(stamp(after.wYear, after.wMonth, after.wDay, after.wHour, after.wMinute, after.wSecond,
                              after.wMilliseconds)), 0);
}
