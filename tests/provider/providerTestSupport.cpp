#include "tests/provider/providerTestSupport.h"

#include <stdexcept>

std::vector<const testsupport::ReceivedSpan*> spansNamed(const std::vector<testsupport::ReceivedSpan>& spans,
                                                         const std::string& prefix) {
  std::vector<const testsupport::ReceivedSpan*> found;
  for (const testsupport::ReceivedSpan& span : spans) {
    if (span.operationName.compare(0, prefix.size(), prefix) == 0) found.push_back(&span);
  }
  return found;
}

const testsupport::ReceivedSpan& spanNamed(const std::vector<testsupport::ReceivedSpan>& spans,
                                           const std::string& prefix) {
  const auto found = spansNamed(spans, prefix);
  if (found.size() != 1) throw std::runtime_error(std::to_string(found.size()) + " spans \"" + prefix + "\"");
  return *found[0];
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
