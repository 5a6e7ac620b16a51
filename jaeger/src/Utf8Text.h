#pragma once
// Text as the agent's strings carry it: UTF-8. The product's narrow strings are in the ANSI code
// page, and a datagram holding one byte that is not UTF-8 is rejected whole by the agent, so
// every string the client encodes passes through here: text that already is valid UTF-8 (all
// ASCII text is, which is almost all of it) is used as it is; anything else is read in the ANSI
// code page and converted.

#include <cstdint>
#include <cstring>
#include <string>

#include <opentracing/string_view.h>

namespace jaegertracing {

// True when text is well-formed UTF-8: no stray continuation bytes, no overlong forms, no
// surrogates, nothing above U+10FFFF.
bool isUtf8(opentracing::string_view text) noexcept;

// The ANSI code page's text as UTF-8. Throws std::bad_alloc.
std::string ansiToUtf8(opentracing::string_view text);

class Utf8Text {
 public:
  // Throws std::bad_alloc, only for text that needs converting.
  explicit Utf8Text(opentracing::string_view text) : _view(text) {
    if (!isAscii(text) && !isUtf8(text)) {
      _converted = ansiToUtf8(text);
      _view = _converted;
    }
  }
  Utf8Text(const Utf8Text&) = delete;
  Utf8Text& operator=(const Utf8Text&) = delete;

  opentracing::string_view view() const { return _view; }
  size_t size() const { return _view.size(); }

  // Eight bytes at a time: the check a span's short ASCII strings pay.
  static bool isAscii(opentracing::string_view text) noexcept {
    const char* p = text.data();
    size_t size = text.size();
    for (; size >= 8; size -= 8, p += 8) {
      uint64_t word;
      std::memcpy(&word, p, 8);
      if (word & 0x8080808080808080ULL) return false;
    }
    for (; size > 0; --size, ++p) {
      if (static_cast<unsigned char>(*p) & 0x80) return false;
    }
    return true;
  }

 private:
  opentracing::string_view _view;
  std::string _converted;
};

}  // namespace jaegertracing
