#include "provider/currentSpan.h"

#include "provider/FiberLocal.h"
#include "provider/loadOrder.h"

namespace {

// Made at load, before the crash-dump settings; a span still current when its thread ends is
// ended as the thread exits.
KESTRIN_LOAD_ORDER_CURRENT_SPAN FiberLocal<std::unique_ptr<opentracing::Span>> threadSpans;

}  // namespace

std::unique_ptr<opentracing::Span>& currentSpan() { return threadSpans.get(); }
