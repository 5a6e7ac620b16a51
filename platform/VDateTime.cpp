#include "platform/VDateTime.h"

#include "diagnostics/vexception.h"
#include "platform/formatString.h"

namespace {

// Fixed sites: the product's logs and other modules know these lines, whatever the source's own.
constexpr SiteName kFromFileTimeSite{"VDateTime::VDateTime", 40};

void assign(VDateTime& stamp, const SYSTEMTIME& calendar) {
  stamp.year = calendar.wYear;
  stamp.month = calendar.wMonth;
  stamp.dayOfWeek = calendar.wDayOfWeek;
  stamp.day = calendar.wDay;
  stamp.hour = calendar.wHour;
  stamp.minute = calendar.wMinute;
  stamp.second = calendar.wSecond;
  stamp.milliseconds = calendar.wMilliseconds;
}

}  // namespace

VDateTime::VDateTime() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  assign(*this, now);
}

VDateTime::VDateTime(const FILETIME& time) {
  SYSTEMTIME calendar;
  if (!FileTimeToSystemTime(&time, &calendar)) throwLastError(kFromFileTimeSite, L"FileTimeToSystemTime");
  assign(*this, calendar);
}

int VDateTime::compare(const VDateTime& other) const {
  const uint16_t mine[] = {year, month, day, hour, minute, second, milliseconds};
  const uint16_t theirs[] = {other.year, other.month, other.day, other.hour, other.minute, other.second,
                             other.milliseconds};
  for (size_t i = 0; i < sizeof(mine) / sizeof(mine[0]); ++i) {
    if (mine[i] != theirs[i]) return mine[i] < theirs[i] ? -1 : 1;
  }
  return 0;
}

std::wstring VDateTime::format(const std::wstring& separator) const {
  return formatString(L"%04d%s%02d%s%02d %02d:%02d:%02d.%03d", int{year}, separator, int{month}, separator, int{day},
                      int{hour}, int{minute}, int{second}, int{milliseconds});
}

std::wstring VDateTime::dateStamp() const {
  return formatString(L"%04d%02d%02d", int{year}, int{month}, int{day});
}
