#include "jaeger/src/SpanContext.h"

#include <cstdio>

namespace jaegertracing {

namespace {

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Up to 16 hex digits into a 64-bit number; false for no digits, too many or a non-digit.
bool parseHex64(opentracing::string_view text, uint64_t& out) {
  if (text.size() == 0 || text.size() > 16) return false;
  uint64_t value = 0;
  for (char c : text) {
    int d = hexDigit(c);
    if (d < 0) return false;
    value = (value << 4) | static_cast<uint64_t>(d);
  }
  out = value;
  return true;
}

bool parseTraceId(opentracing::string_view text, TraceId& out) {
  if (text.size() == 0 || text.size() > 32) return false;
  TraceId id;
  if (text.size() > 16) {
    size_t highDigits = text.size() - 16;
    if (!parseHex64(opentracing::string_view(text.data(), highDigits), id.high)) return false;
    text = opentracing::string_view(text.data() + highDigits, 16);
  }
  if (!parseHex64(text, id.low)) return false;
  out = id;
  return true;
}

}  // namespace

std::string toHex(uint64_t value) {
  char buffer[17];
  std::snprintf(buffer, sizeof buffer, "%llx", static_cast<unsigned long long>(value));
  return buffer;
}

std::string toHex(TraceId id) {
  if (id.high == 0) return toHex(id.low);
  char buffer[33];
  std::snprintf(buffer, sizeof buffer, "%llx%016llx", static_cast<unsigned long long>(id.high),
                static_cast<unsigned long long>(id.low));
  return buffer;
}

SpanContext::SpanContext(TraceId traceId, uint64_t spanId, uint64_t parentId, uint8_t flags, Baggage baggage,
                         std::string debugId)
    : _traceId(traceId),
      _spanId(spanId),
      _parentId(parentId),
      _flags(flags),
      _debugId(std::move(debugId)),
      _baggage(std::move(baggage)) {}

SpanContext::SpanContext(const SpanContext& other)
    : _traceId(other._traceId),
      _spanId(other._spanId),
      _parentId(other._parentId),
      _flags(other._flags),
      _debugId(other._debugId),
      _baggage(other.baggage()) {}

SpanContext& SpanContext::operator=(const SpanContext& other) {
  if (this == &other) return *this;
  Baggage copy = other.baggage();
  _traceId = other._traceId;
  _spanId = other._spanId;
  _parentId = other._parentId;
  _flags = other._flags;
  _debugId = other._debugId;
  std::lock_guard<std::mutex> lock(_baggageLock);
  _baggage = std::move(copy);
  return *this;
}

SpanContext::Baggage SpanContext::baggage() const {
  std::lock_guard<std::mutex> lock(_baggageLock);
  return _baggage;
}

std::string SpanContext::baggageItem(const std::string& key) const {
  std::lock_guard<std::mutex> lock(_baggageLock);
  auto it = _baggage.find(key);
  return it == _baggage.end() ? std::string() : it->second;
}

void SpanContext::setBaggageItem(const std::string& key, const std::string& value) {
  std::lock_guard<std::mutex> lock(_baggageLock);
  _baggage[key] = value;
}

std::string SpanContext::toText() const {
  return toHex(_traceId) + ":" + toHex(_spanId) + ":" + toHex(_parentId) + ":" + toHex(_flags);
}

bool SpanContext::fromText(opentracing::string_view text, SpanContext& out) {
  opentracing::string_view parts[4];
  size_t start = 0;
  for (int i = 0; i < 4; ++i) {
    size_t end = start;
    while (end < text.size() && text[end] != ':') ++end;
    if ((i < 3) == (end == text.size())) return false;  // three separators, exactly
    parts[i] = opentracing::string_view(text.data() + start, end - start);
    start = end + 1;
  }
  TraceId traceId;
  uint64_t spanId = 0;
  uint64_t parentId = 0;
  uint64_t flags = 0;
  if (!parseTraceId(parts[0], traceId) || !parseHex64(parts[1], spanId) || !parseHex64(parts[2], parentId) ||
      !parseHex64(parts[3], flags) || flags > 0xff || !traceId.isValid() || spanId == 0) {
    return false;
  }
  out = SpanContext(traceId, spanId, parentId, static_cast<uint8_t>(flags), Baggage());
  return true;
}

void SpanContext::ForeachBaggageItem(std::function<bool(const std::string&, const std::string&)> f) const {
  for (const auto& item : baggage()) {
    if (!f(item.first, item.second)) break;
  }
}

std::unique_ptr<opentracing::SpanContext> SpanContext::Clone() const noexcept {
  try {
    return std::unique_ptr<opentracing::SpanContext>(new SpanContext(*this));
  } catch (...) {
    return nullptr;
  }
}

std::string SpanContext::ToTraceID() const noexcept {
  try {
    return toHex(_traceId);
  } catch (...) {
    return std::string();
  }
}

std::string SpanContext::ToSpanID() const noexcept {
  try {
    return toHex(_spanId);
  } catch (...) {
    return std::string();
  }
}

}  // namespace jaegertracing
