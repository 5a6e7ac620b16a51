#pragma once
// Span contexts in carriers. Text maps and HTTP headers hold the trace context under the
// configured key as "trace-id:span-id:parent-id:flags", baggage under the prefix + key, a debug id
// and a "key=value, ..." baggage list under their own keys; HTTP header values are URL-encoded.
// The binary form is fixed-width big-endian ids, the flags byte and length-prefixed baggage.

#include <iosfwd>
#include <memory>

#include <opentracing/propagation.h>

#include "jaeger/src/SpanContext.h"
#include "jaegertracing/propagation/HeadersConfig.h"

namespace jaegertracing {

enum class TextFormat { TextMap, HttpHeaders };

opentracing::expected<void> injectText(const SpanContext& context, const opentracing::TextMapWriter& writer,
                                       const propagation::HeadersConfig& headers, TextFormat format);

// Null when the carrier holds none of the keys; span_context_corrupted_error for a trace context
// that does not parse. Keys match without regard to letter case.
opentracing::expected<std::unique_ptr<opentracing::SpanContext>> extractText(
    const opentracing::TextMapReader& reader, const propagation::HeadersConfig& headers, TextFormat format);

opentracing::expected<void> injectBinary(const SpanContext& context, std::ostream& out);

// Null for an empty stream; span_context_corrupted_error for a truncated or oversized one.
opentracing::expected<std::unique_ptr<opentracing::SpanContext>> extractBinary(std::istream& in);

}  // namespace jaegertracing
