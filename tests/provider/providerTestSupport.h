#pragma once
// What the tests of the provider's spans share: spans as the agent listener decoded them.

#include <gtest/gtest.h>

#include <stdexcept>

#include "provider/providerEntryPoints.h"
#include "tests/support/AgentListener.h"
#include "tests/support/productSettings.h"

// Tracing switched on, no span context inherited, and the agent's port listened on.
class TracingOn : public ::testing::Test {
 protected:
  TracingOn() {
    SetEnvironmentVariableW(kSpanContextVariable, nullptr);
    values.set(L"opentracing_enabled", 1);
  }

  ProductSettings values;
  testsupport::AgentListener agent{6831};
};

inline std::vector<const testsupport::ReceivedSpan*> spansNamed(const std::vector<testsupport::ReceivedSpan>& spans,
                                                                const std::string& prefix) {
  std::vector<const testsupport::ReceivedSpan*> found;
  for (const testsupport::ReceivedSpan& span : spans) {
    if (span.operationName.compare(0, prefix.size(), prefix) == 0) found.push_back(&span);
  }
  return found;
}

// The one span whose operation name starts with prefix; raises std::runtime_error unless one.
inline const testsupport::ReceivedSpan& spanNamed(const std::vector<testsupport::ReceivedSpan>& spans,
                                                  const std::string& prefix) {
  const auto found = spansNamed(spans, prefix);
  if (found.size() != 1) throw std::runtime_error(std::to_string(found.size()) + " spans \"" + prefix + "\"");
  return *found[0];
}

// The span's tags in the order sent, "key=TYPE:value" each followed by a space.
inline std::string tagsOf(const testsupport::ReceivedSpan& span) {
  std::string text;
  for (const testsupport::ReceivedTag& tag : span.tags) text += tag.key + "=" + tag.type + ":" + tag.value + " ";
  return text;
}

// child names parent as its parent id, in parent's trace; a lone child-of is sent as that alone.
inline ::testing::AssertionResult childOf(const testsupport::ReceivedSpan& child,
                                          const testsupport::ReceivedSpan& parent) {
  if (child.traceIdLow != parent.traceIdLow || child.traceIdHigh != parent.traceIdHigh)
    return ::testing::AssertionFailure() << child.operationName << " is in another trace than " << parent.operationName;
  if (child.parentSpanId != parent.spanId)
    return ::testing::AssertionFailure() << child.operationName << " has another parent than " << parent.operationName;
  if (!child.references.empty())
    return ::testing::AssertionFailure() << child.operationName << " carries references besides its parent";
  return ::testing::AssertionSuccess();
}
