#include "platform/stringConversion.h"

#include <windows.h>

#include <climits>

#include "diagnostics/vexception.h"

namespace {

// Fixed sites: the product's logs and other modules know these lines, whatever the source's own.
constexpr SiteName kCstrSite{"cstr", 16};
constexpr SiteName kWstrSite{"wstr", 35};

// Text longer than an int can count is refused the way the system refuses bad input.
int checkedLength(size_t length, SiteName site, const wchar_t* what) {
  if (length > static_cast<size_t>(INT_MAX)) throwOSError(what, ERROR_INVALID_PARAMETER, site);
  return static_cast<int>(length);
}

}  // namespace

std::string cstr(const std::wstring& text, uint32_t codePage) {
  if (text.empty()) return std::string();
  static const wchar_t* const what = L"Maps a wide-character (Unicode) string to a character stringz";
  const int length = checkedLength(text.size(), kCstrSite, what);
  const int count = WideCharToMultiByte(codePage, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
  if (count == 0) throwLastError(kCstrSite, what);
  std::string result(static_cast<size_t>(count), '\0');
  WideCharToMultiByte(codePage, 0, text.data(), length, result.data(), count, nullptr, nullptr);
  return result;
}

std::wstring wstr(const std::string& text, uint32_t codePage) {
  if (text.empty()) return std::wstring();
  static const wchar_t* const what = L"Maps a character string to a wide-character (Unicode) string failed";
  const int length = checkedLength(text.size(), kWstrSite, what);
  const int count = MultiByteToWideChar(codePage, 0, text.data(), length, nullptr, 0);
  if (count == 0) throwLastError(kWstrSite, what);
  std::wstring result(static_cast<size_t>(count), L'\0');
  MultiByteToWideChar(codePage, 0, text.data(), length, result.data(), count);
  return result;
}
