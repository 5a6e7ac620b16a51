#pragma once
// The calling thread's current span. The slot owns that span; a span still current when its
// thread ends is destroyed, and so ended, as the thread exits.

#include <opentracing/span.h>

#include <memory>

// The calling thread's slot, created on first use. Throws std::bad_alloc when it cannot be.
std::unique_ptr<opentracing::Span>& currentSpan();
