#pragma once
// Tags and log fields as the agent protocol carries them: each is encoded when it is set, so
// that no view into the caller's memory is kept and a span's end only copies the bytes.

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include <opentracing/string_view.h>
#include <opentracing/value.h>

#include "jaeger/src/BlockBytes.h"

namespace jaegertracing {

class EncodedTags {
 public:
  uint32_t count() const { return _count; }
  bool empty() const { return _count == 0; }
  // The tags one after another, as a list of the protocol's Tag structs holds them.
  opentracing::string_view bytes() const { return _bytes.view(); }

  // Strings, bools, doubles and signed integers keep their type; unsigned values above the
  // signed range become decimal text rather than wrapping negative, and null, lists and
  // dictionaries become text too.
  void append(const opentracing::string_view& key, const opentracing::Value& value);
  void appendText(const opentracing::string_view& key, const opentracing::string_view& text);
  void appendAll(const EncodedTags& other);
  // Sets or replaces the tag of the same key, keeping the order of first appearance.
  void set(const opentracing::string_view& key, const opentracing::Value& value);

  // Each tag's key and its value as text, in order.
  void forEach(const std::function<void(opentracing::string_view key, const std::string& value)>& visit) const;

 private:
  BlockBytes _bytes;
  uint32_t _count = 0;
};

// A span's logs, each encoded as the protocol's Log struct when it is added, all in one run of
// bytes.
class EncodedLogs {
 public:
  uint32_t count() const { return _count; }
  bool empty() const { return _count == 0; }
  opentracing::string_view bytes() const { return _bytes.view(); }

  void append(std::chrono::system_clock::time_point timestamp, const EncodedTags& fields);

 private:
  BlockBytes _bytes;
  uint32_t _count = 0;
};

}  // namespace jaegertracing
