#pragma once
// The identity of a span as it propagates: trace id (128 bits, the high half 0 for 64-bit ids),
// span id, parent id, flags and baggage. A context with a zero trace id carries only a debug id
// and/or baggage from a carrier, for the root span it starts.

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>

#include "jaeger/src/SlimLock.h"

#include <opentracing/span.h>

namespace jaegertracing {

struct TraceId {
  uint64_t high = 0;
  uint64_t low = 0;
  bool isValid() const { return high != 0 || low != 0; }
};

class SpanContext final : public opentracing::SpanContext {
 public:
  enum Flags : uint8_t { kSampled = 1, kDebug = 2 };
  using Baggage = std::map<std::string, std::string>;

  SpanContext() = default;
  SpanContext(TraceId traceId, uint64_t spanId, uint64_t parentId, uint8_t flags, Baggage baggage,
              std::string debugId = std::string());
  SpanContext(const SpanContext& other);
  // Moves from a context no other thread can see: a new span's, or a parsed one.
  SpanContext(SpanContext&& other) noexcept;
  SpanContext& operator=(const SpanContext& other);

  TraceId traceId() const { return _traceId; }
  uint64_t spanId() const { return _spanId; }
  uint64_t parentId() const { return _parentId; }
  uint8_t flags() const { return _flags; }
  bool isSampled() const { return (_flags & kSampled) != 0; }
  bool isDebug() const { return (_flags & kDebug) != 0; }
  bool isValid() const { return _traceId.isValid() && _spanId != 0; }
  const std::string& debugId() const { return _debugId; }

  Baggage baggage() const;
  // Adds this context's baggage to out, keeping what out already has.
  void mergeBaggageInto(Baggage& out) const;
  std::string baggageItem(const std::string& key) const;
  void setBaggageItem(const std::string& key, const std::string& value);

  // Writes "trace-id:span-id:parent-id:flags" in lower-case hex, the form carriers hold, into
  // out, which has room for kMaxTextSize bytes; returns the length.
  static constexpr size_t kMaxTextSize = 32 + 1 + 16 + 1 + 16 + 1 + 2;
  size_t writeText(char* out) const;
  // Parses that form; false for anything else (the context is left unchanged then).
  static bool fromText(opentracing::string_view text, SpanContext& out);

  void ForeachBaggageItem(std::function<bool(const std::string&, const std::string&)> f) const override;
  std::unique_ptr<opentracing::SpanContext> Clone() const noexcept override;
  std::string ToTraceID() const noexcept override;
  std::string ToSpanID() const noexcept override;

 private:
  TraceId _traceId;
  uint64_t _spanId = 0;
  uint64_t _parentId = 0;
  uint8_t _flags = 0;
  std::string _debugId;
  mutable SlimLock _baggageLock;  // a span's baggage may change while another thread reads it
  Baggage _baggage;
  // Read without the lock, so that the children of a busy parent do not all write its lock.
  std::atomic<bool> _hasBaggage{false};
};

// Lower-case hex without leading zeros ("0" for 0).
std::string toHex(uint64_t value);
// The trace id in hex: the high half only when it is set, the low half padded to 16 digits then.
std::string toHex(TraceId id);

}  // namespace jaegertracing
