#include "provider/OpenTracingSpanContext.h"

#include <algorithm>
#include <string>

#include "provider/OpenTracingTracer.h"
#include "provider/currentSpan.h"
#include "provider/rootSpan.h"
#include "provider/startSpan.h"

OpenTracingSpanContext::OpenTracingSpanContext(OpenTracingDriver::TracerPtr& tracerProvider,
                                               const std::string& function, int32_t line, const std::string& name)
    : tracerProvider(tracerProvider) {
  const bool child = currentSpan() != nullptr;
  const opentracing::SpanContext& parent =
      child ? currentSpan()->context() : rootSpan(OpenTracingTracer::of(this->tracerProvider))->context();
  // "CHILD: " or "NEW: ", then "function line" or "name (function line)". Joined by hand, on
  // the stack when it fits: the run-time's printf and the heap cost more than the rest of a span.
  const std::string lineText = std::to_string(line);
  const bool named = !name.empty();
  const opentracing::string_view pieces[] = {child ? "CHILD: " : "NEW: ", name, named ? " (" : "", function, " ",
                                             lineText, named ? ")" : ""};
  size_t length = 0;
  for (const auto& piece : pieces) length += piece.size();
  char onStack[256];
  std::string onHeap;
  char* const text = length <= sizeof onStack ? onStack : (onHeap.resize(length), &onHeap[0]);
  char* end = text;
  for (const auto& piece : pieces) end = std::copy(piece.data(), piece.data() + piece.size(), end);
  previousSpan = startSpan(opentracing::string_view(text, static_cast<size_t>(end - text)), &parent);
  // Views, not copies: the tracer takes the text over at once.
  previousSpan->SetTag("Name", opentracing::string_view(name));
  previousSpan->SetTag("Function", opentracing::string_view(function));
  previousSpan->SetTag("Line", static_cast<int64_t>(line));
  // Last, so that a failure above leaves the thread's current span as it was.
  currentSpan().swap(previousSpan);
}

OpenTracingSpanContext::~OpenTracingSpanContext() {
  currentSpan().swap(previousSpan);
  try {
    previousSpan.reset();
  } catch (...) {
  }
}

void OpenTracingSpanContext::SetError(const std::string& description) {
  if (!currentSpan()) return;
  // Each tag on its own: the description is still recorded when the first one fails.
  try {
    currentSpan()->SetTag("error", "true");
  } catch (...) {
  }
  try {
    currentSpan()->SetTag("error_description", description);
  } catch (...) {
  }
}

void OpenTracingSpanContext::SetTag(const std::string& key, const std::string& value) {
  if (!currentSpan()) return;
  try {
    currentSpan()->SetTag(key, value);
  } catch (...) {
  }
}
