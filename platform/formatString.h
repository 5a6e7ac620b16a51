#pragma once
// printf-style formatting into a new string of exactly the needed length, narrow and wide.
// Formats follow the Microsoft run-time conventions on every compiler: in a wide format %s takes
// a wide string and %S a narrow one; %lu and %lx take 32-bit values. String objects may be
// passed directly and are handed on as their character pointers. Invalid formats or arguments
// raise ArgumentException; text is never truncated.

#include <string>

namespace formatDetail {

template <class T>
const T& pass(const T& value) { return value; }
inline const char* pass(const std::string& value) { return value.c_str(); }
inline const wchar_t* pass(const std::wstring& value) { return value.c_str(); }

// Both take C variadic arguments so that the run-time's own printf family does the conversion.
int measure(const char* format, ...);
int measure(const wchar_t* format, ...);
void print(char* buffer, size_t size, const char* format, ...);
void print(wchar_t* buffer, size_t size, const wchar_t* format, ...);

template <class Char, class... Args>
std::basic_string<Char> format(const Char* fmt, const Args&... args) {
  const int count = measure(fmt, pass(args)...);
  std::basic_string<Char> result(static_cast<size_t>(count), Char());
  print(result.data(), result.size() + 1, fmt, pass(args)...);
  return result;
}

}  // namespace formatDetail

template <class... Args>
std::string formatString(const char* format, const Args&... args) {
  return formatDetail::format(format, args...);
}

template <class... Args>
std::wstring formatString(const wchar_t* format, const Args&... args) {
  return formatDetail::format(format, args...);
}
