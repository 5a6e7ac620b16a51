#include "jaeger/src/Utf8Text.h"

#include <new>

#include <windows.h>

namespace jaegertracing {

bool isUtf8(opentracing::string_view text) noexcept {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const auto* end = p + text.size();
  while (p < end) {
    const unsigned char lead = *p++;
    if (lead < 0x80) continue;
    size_t more;
    unsigned char low = 0x80, high = 0xBF;  // the range of the byte after the lead
    if (lead >= 0xC2 && lead <= 0xDF) {
      more = 1;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      more = 2;
      if (lead == 0xE0) low = 0xA0;   // overlong
      if (lead == 0xED) high = 0x9F;  // surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      more = 3;
      if (lead == 0xF0) low = 0x90;   // overlong
      if (lead == 0xF4) high = 0x8F;  // above U+10FFFF
    } else {
      return false;
    }
    if (static_cast<size_t>(end - p) < more || *p < low || *p > high) return false;
    for (++p, --more; more > 0; --more, ++p) {
      if ((*p & 0xC0) != 0x80) return false;
    }
  }
  return true;
}

std::string ansiToUtf8(opentracing::string_view text) {
  if (text.empty()) return std::string();
  const int size = static_cast<int>(text.size());
  // Every byte of a single- or double-byte code page gives at most one UTF-16 unit.
  std::wstring wide(text.size(), L'\0');
  const int units = MultiByteToWideChar(CP_ACP, 0, text.data(), size, &wide[0], size);
  if (units <= 0) return std::string(text.size(), '?');
  // A UTF-16 unit takes at most three UTF-8 bytes; lone surrogates become U+FFFD.
  std::string out(static_cast<size_t>(units) * 3, '\0');
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide.data(), units, &out[0], static_cast<int>(out.size()), nullptr,
                                        nullptr);
  if (bytes <= 0) return std::string(text.size(), '?');
  out.resize(static_cast<size_t>(bytes));
  return out;
}

}  // namespace jaegertracing
