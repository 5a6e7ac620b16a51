#include "provider/OpenTracingSpanContext.h"

#include <string>

#include "provider/OpenTracingTracer.h"
#include "provider/currentSpan.h"
#include "provider/rootSpan.h"
#include "provider/startSpan.h"

OpenTracingSpanContext::OpenTracingSpanContext(OpenTracingDriver::TracerPtr& tracerProvider,
                                               const std::string& function, int32_t line, const std::string& name)
    : tracerProvider(tracerProvider) {
  // "function line" or "name (function line)", joined by hand: the run-time's printf costs more
  // than the rest of a span.
  const std::string lineText = std::to_string(line);
  std::string displayName;
  displayName.reserve(name.size() + function.size() + lineText.size() + 4);
  if (!name.empty()) displayName.append(name).append(" (");
  displayName.append(function).append(" ").append(lineText);
  if (!name.empty()) displayName.append(")");
  if (currentSpan())
    previousSpan = startSpan("CHILD: " + displayName, &currentSpan()->context());
  else
    previousSpan = startSpan("NEW: " + displayName, &rootSpan(OpenTracingTracer::of(this->tracerProvider))->context());
  previousSpan->SetTag("Name", name);
  previousSpan->SetTag("Function", function);
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
