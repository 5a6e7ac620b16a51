#include "provider/startSpan.h"

#include <opentracing/tracer.h>

#include "diagnostics/vexception.h"

std::unique_ptr<opentracing::Span> startSpan(opentracing::string_view operationName,
                                             const opentracing::SpanContext* parent) {
  const auto tracer = opentracing::Tracer::Global();
  auto span = parent ? tracer->StartSpan(operationName, {opentracing::ChildOf(parent)}) : tracer->StartSpan(operationName);
  if (!span) throw vexception(L"The tracer started no span", ExceptionSite("startSpan", __LINE__));
  return span;
}
