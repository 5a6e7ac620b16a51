#include "jaeger/src/SpanContext.h"

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

// Writes value in lower-case hex, at least minDigits long, and returns the end. Done by hand:
// the C run-time's formatting takes longer than the rest of an injection.
char* putHex(char* out, uint64_t value, int minDigits) {
  char digits[16];
  int count = 0;
  do {
    digits[count++] = "0123456789abcdef"[value & 0xf];
    value >>= 4;
  } while (value != 0);
  while (count < minDigits) digits[count++] = '0';
  while (count > 0) *out++ = digits[--count];
  return out;
}

char* putHex(char* out, TraceId id) {
  if (id.high == 0) return putHex(out, id.low, 1);
  return putHex(putHex(out, id.high, 1), id.low, 16);
}

}  // namespace

std::string toHex(uint64_t value) {
  char buffer[16];
  return std::string(buffer, putHex(buffer, value, 1));
}

std::string toHex(TraceId id) {
  char buffer[32];
  return std::string(buffer, putHex(buffer, id));
}

SpanContext::SpanContext(TraceId traceId, uint64_t spanId, uint64_t parentId, uint8_t flags, Baggage baggage,
                         std::string debugId)
    : _traceId(traceId),
      _spanId(spanId),
      _parentId(parentId),
      _flags(flags),
      _debugId(std::move(debugId)),
      _baggage(std::move(baggage)),
      _hasBaggage(!_baggage.empty()) {}

SpanContext::SpanContext(const SpanContext& other)
    : _traceId(other._traceId),
      _spanId(other._spanId),
      _parentId(other._parentId),
      _flags(other._flags),
      _debugId(other._debugId),
      _baggage(other.baggage()),
      _hasBaggage(!_baggage.empty()) {}

SpanContext::SpanContext(SpanContext&& other) noexcept
    : _traceId(other._traceId),
      _spanId(other._spanId),
      _parentId(other._parentId),
      _flags(other._flags),
      _debugId(std::move(other._debugId)),
      _baggage(std::move(other._baggage)),
      _hasBaggage(!_baggage.empty()) {}

SpanContext& SpanContext::operator=(const SpanContext& other) {
  if (this == &other) return *this;
  Baggage copy = other.baggage();
  _traceId = other._traceId;
  _spanId = other._spanId;
  _parentId = other._parentId;
  _flags = other._flags;
  _debugId = other._debugId;
  std::lock_guard<SlimLock> lock(_baggageLock);
  _baggage = std::move(copy);
  _hasBaggage = !_baggage.empty();
  return *this;
}

SpanContext::Baggage SpanContext::baggage() const {
  if (!_hasBaggage.load(std::memory_order_acquire)) return Baggage();
  std::lock_guard<SlimLock> lock(_baggageLock);
  return _baggage;
}

void SpanContext::mergeBaggageInto(Baggage& out) const {
  if (!_hasBaggage.load(std::memory_order_acquire)) return;
  std::lock_guard<SlimLock> lock(_baggageLock);
  out.insert(_baggage.begin(), _baggage.end());
}

std::string SpanContext::baggageItem(const std::string& key) const {
  std::lock_guard<SlimLock> lock(_baggageLock);
  auto it = _baggage.find(key);
  return it == _baggage.end() ? std::string() : it->second;
}

void SpanContext::setBaggageItem(const std::string& key, const std::string& value) {
  std::lock_guard<SlimLock> lock(_baggageLock);
  _baggage[key] = value;
  _hasBaggage = true;
}

size_t SpanContext::writeText(char* out) const {
  char* end = putHex(out, _traceId);
  *end++ = ':';
  end = putHex(end, _spanId, 1);
  *end++ = ':';
  end = putHex(end, _parentId, 1);
  *end++ = ':';
  end = putHex(end, _flags, 1);
  return static_cast<size_t>(end - out);
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
