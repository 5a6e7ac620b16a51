#include "provider/OpenTracingSpanContext.h"

#include "platform/formatString.h"
#include "provider/OpenTracingTracer.h"
#include "provider/currentSpan.h"
#include "provider/rootSpan.h"
#include "provider/startSpan.h"

OpenTracingSpanContext::OpenTracingSpanContext(OpenTracingDriver::TracerPtr& tracerProvider,
                                               const std::string& function, int32_t line, const std::string& name)
    : tracerProvider(tracerProvider) {
  const std::string displayName =
      name.empty() ? formatString("%s %d", function, line) : formatString("%s (%s %d)", name, function, line);
  if (currentSpan())
    previousSpan = startSpan(formatString("CHILD: %s", displayName), &currentSpan()->context());
  else
    previousSpan = startSpan(formatString("NEW: %s", displayName),
                             &rootSpan(OpenTracingTracer::of(this->tracerProvider))->context());
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
