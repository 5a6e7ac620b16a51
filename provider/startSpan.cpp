#include "provider/startSpan.h"

#include <opentracing/tracer.h>

#include "diagnostics/vexception.h"
#include "provider/FiberLocal.h"

namespace {

// Each thread's start options, used again: the interface's convenience call builds them with a
// heap vector for every span, and under a heap with one lock that allocation serialises the
// threads.
FiberLocal<opentracing::StartSpanOptions> threadOptions;

}  // namespace

std::unique_ptr<opentracing::Span> startSpan(opentracing::string_view operationName,
                                             const opentracing::SpanContext* parent) {
  const auto tracer = opentracing::Tracer::Global();
  opentracing::StartSpanOptions& options = threadOptions.get();
  if (parent) options.references.emplace_back(opentracing::SpanReferenceType::ChildOfRef, parent);
  auto span = tracer->StartSpanWithOptions(operationName, options);
  // The vector keeps its room for the next span, but no pointer to this parent.
  options.references.clear();
  if (!span) throw vexception(L"The tracer started no span", KESTRIN_SITE);
  return span;
}
