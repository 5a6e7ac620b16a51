#include "platform/formatString.h"

#include <cstdarg>
#include <cstdio>
#include <cwchar>

#include "diagnostics/vexception.h"

// MinGW's printf family follows C99 unless told otherwise; the run-time DLL's own _vsc*printf and
// _vsn*printf keep the Microsoft conventions the product's formats were written for, and MSVC
// has the same functions.

namespace formatDetail {

namespace {
// Fixed sites: the product's logs and other modules know these lines, whatever the source's own.
constexpr SiteName kMeasureNarrowSite{"getFormatStringSize", 574};
constexpr SiteName kMeasureWideSite{"getFormatStringSize", 585};
constexpr SiteName kPrintNarrowSite{"formatString", 596};
constexpr SiteName kPrintWideSite{"formatString", 607};
}  // namespace

int measure(const char* format, ...) {
  int count = -1;
  if (format != nullptr) {
    va_list args;
    va_start(args, format);
    count = _vscprintf(format, args);
    va_end(args);
  }
  if (count == -1)
    throw ArgumentException(L"_scprintf() failed: invalid arguments", kMeasureNarrowSite);
  return count;
}

int measure(const wchar_t* format, ...) {
  int count = -1;
  if (format != nullptr) {
    va_list args;
    va_start(args, format);
    count = _vscwprintf(format, args);
    va_end(args);
  }
  if (count == -1)
    throw ArgumentException(L"_scwprintf() failed: invalid arguments", kMeasureWideSite);
  return count;
}

void print(char* buffer, size_t size, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int written = _vsnprintf(buffer, size, format, args);
  va_end(args);
  if (written == -1)
    throw ArgumentException(L"sprintf() failed: invalid arguments", kPrintNarrowSite);
}

void print(wchar_t* buffer, size_t size, const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  const int written = _vsnwprintf(buffer, size, format, args);
  va_end(args);
  if (written == -1)
    throw ArgumentException(L"swprintf() failed: invalid arguments", kPrintWideSite);
}

}  // namespace formatDetail
