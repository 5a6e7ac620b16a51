#pragma once
// A tag or log field as the agent protocol carries it: a key and a string, double, bool or
// 64-bit integer value. OpenTracing values are converted when they are set, so that no view
// into the caller's memory is kept.

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include <opentracing/string_view.h>
#include "jaeger/src/BlockCache.h"
#include <opentracing/value.h>

namespace jaegertracing {

struct Tag {
  enum class Type : int32_t { String = 0, Double = 1, Bool = 2, Long = 3 };

  std::string key;
  Type type = Type::String;
  std::string text;
  double number = 0;
  int64_t integer = 0;
  bool flag = false;

  static Tag string(std::string key, std::string value);
  static Tag boolean(std::string key, bool value);
  // Unsigned values above the signed range become decimal text rather than wrapping negative;
  // null, lists and dictionaries become text too.
  static Tag fromValue(opentracing::string_view key, const opentracing::Value& value);

  // The value as text, for span logging.
  std::string valueText() const;
};

using Tags = std::vector<Tag, BlockAllocator<Tag>>;

struct LogEntry {
  std::chrono::system_clock::time_point timestamp;
  Tags fields;
};

// Sets or replaces the tag of the same key, keeping the order of first appearance.
void setTag(Tags& tags, opentracing::string_view key, const opentracing::Value& value);

}  // namespace jaegertracing
