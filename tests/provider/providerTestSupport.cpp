#include "tests/provider/providerTestSupport.h"

#include <stdexcept>

const testsupport::ReceivedSpan& spanNamed(const std::vector<testsupport::ReceivedSpan>& spans,
                                           const std::string& operationName) {
  const testsupport::ReceivedSpan* span = testsupport::findSpan(spans, operationName);
  if (!span) throw std::runtime_error("no span named \"" + operationName + "\" among " + std::to_string(spans.size()));
  return *span;
}

std::string tagValue(const testsupport::ReceivedSpan& span, const std::string& key) {
  const testsupport::ReceivedTag* tag = span.tag(key);
  if (!tag) throw std::runtime_error("span \"" + span.operationName + "\" has no tag " + key);
  return tag->type + ":" + tag->value;
}

::testing::AssertionResult childOf(const testsupport::ReceivedSpan& child, const testsupport::ReceivedSpan& parent) {
  if (child.traceIdLow != parent.traceIdLow || child.traceIdHigh != parent.traceIdHigh)
    return ::testing::AssertionFailure() << child.operationName << " is in another trace than " << parent.operationName;
  if (child.parentSpanId != parent.spanId)
    return ::testing::AssertionFailure() << child.operationName << " has another parent than " << parent.operationName;
  // The tracer sends a lone child-of reference as the parent id alone.
  if (!child.references.empty())
    return ::testing::AssertionFailure() << child.operationName << " carries references besides its parent";
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult startsATrace(const testsupport::ReceivedSpan& span) {
  if (span.parentSpanId != 0 || !span.references.empty())
    return ::testing::AssertionFailure() << span.operationName << " has a parent";
  return ::testing::AssertionSuccess();
}
