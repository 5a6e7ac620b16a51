#pragma once
// Starts a span on the process's global tracer, as a child of parent or, with a null parent, as
// the first span of a new trace.

#include <opentracing/span.h>

#include <memory>
#include <string>

// Never null: a tracer that starts no span (its way of failing) raises vexception.
std::unique_ptr<opentracing::Span> startSpan(opentracing::string_view operationName,
                                             const opentracing::SpanContext* parent);
