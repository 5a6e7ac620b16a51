#pragma once
// A calendar time stamp in the SYSTEMTIME layout, without a time zone: local time when made from
// the clock, the file time's own base (UTC for file times) when made from a FILETIME.

#include <windows.h>

#include <cstdint>
#include <string>

class VDateTime {
 public:
  // The current local time.
  VDateTime();
  // The calendar form of a file time, without time-zone conversion; raises through throwOSError
  // for a time the system cannot convert (at or beyond 0x8000000000000000).
  explicit VDateTime(const FILETIME& time);

  // -1, 0 or 1 by year, month, day, hour, minute, second and milliseconds; the day of the week
  // takes no part.
  int compare(const VDateTime& other) const;
  bool operator<(const VDateTime& other) const { return compare(other) < 0; }

  // "2024/05/06 07:08:09.010" for the separator "/".
  std::wstring format(const std::wstring& separator) const;
  // "20240506".
  std::wstring dateStamp() const;

  uint16_t year = 0;
  uint16_t month = 0;
  uint16_t dayOfWeek = 0;
  uint16_t day = 0;
  uint16_t hour = 0;
  uint16_t minute = 0;
  uint16_t second = 0;
  uint16_t milliseconds = 0;
};

static_assert(sizeof(VDateTime) == sizeof(SYSTEMTIME), "a time stamp has the SYSTEMTIME layout");
