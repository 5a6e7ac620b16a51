#pragma once
// The calling thread's current span. It owns that span; a span still current when its thread
// ends is destroyed, and so ended, with the thread's other thread-local objects.

#include <opentracing/span.h>

#include <memory>

extern thread_local std::unique_ptr<opentracing::Span> currentSpan;
