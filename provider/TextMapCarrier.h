#pragma once
// A text-map carrier over a string map the caller owns: the tracer writes a span context into it
// on injection and reads one from it on extraction.

#include <opentracing/propagation.h>

#include "provider/textMap.h"

class TextMapCarrier : public opentracing::TextMapReader, public opentracing::TextMapWriter {
 public:
  explicit TextMapCarrier(TextMap& map) : map_(&map) {}

  // Lookup by key is not offered: tracers fall back to ForeachKey.
  opentracing::expected<opentracing::string_view> LookupKey(opentracing::string_view key) const override;
  // Visits the entries in map order and stops at the first error the callback returns.
  opentracing::expected<void> ForeachKey(
      std::function<opentracing::expected<void>(opentracing::string_view key, opentracing::string_view value)> f)
      const override;
  // Stores value under key, replacing an earlier value.
  opentracing::expected<void> Set(opentracing::string_view key, opentracing::string_view value) const override;

 private:
  TextMap* map_;
};
