#include "provider/TextMapCarrier.h"

opentracing::expected<opentracing::string_view> TextMapCarrier::LookupKey(opentracing::string_view) const {
  return opentracing::make_unexpected(opentracing::lookup_key_not_supported_error);
}

opentracing::expected<void> TextMapCarrier::ForeachKey(
    std::function<opentracing::expected<void>(opentracing::string_view key, opentracing::string_view value)> f) const {
  for (const auto& entry : *map_) {
    auto result = f(entry.first, entry.second);
    if (!result) return result;
  }
  return {};
}

opentracing::expected<void> TextMapCarrier::Set(opentracing::string_view key, opentracing::string_view value) const {
  (*map_)[std::string(key)] = std::string(value);
  return {};
}
