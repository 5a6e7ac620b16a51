#include "provider/currentSpan.h"

#include "provider/FiberLocal.h"

namespace {

// Made at load; a span still current when its thread ends is ended as the thread exits.
FiberLocal<std::unique_ptr<opentracing::Span>> threadSpans;

}  // namespace

std::unique_ptr<opentracing::Span>& currentSpan() { return threadSpans.get(); }
