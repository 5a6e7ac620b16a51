#pragma once
// The module's root span, the parent of every thread's first span. It continues the trace of the
// parent process when the environment carries a span context, otherwise it starts a new trace.

#include <opentracing/span.h>

#include <memory>

#include "provider/OpenTracingTracer.h"

// The holder's root span, started on the first call. A failure raises and leaves it unset, so
// that the next call tries again. Any thread: threads whose first spans start at once through
// the provider's exports make one root span between them.
std::unique_ptr<opentracing::Span>& rootSpan(OpenTracingTracer& holder);
