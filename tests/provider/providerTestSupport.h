#pragma once
// What the tests of the provider's spans share: spans as the agent listener decoded them.

#include <gtest/gtest.h>

#include <stdexcept>

#include "provider/providerEntryPoints.h"
#include "tests/support/AgentListener.h"
#include "tests/support/productSettings.h"

using testsupport::ReceivedSpan;

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

inline std::vector<const ReceivedSpan*> spansNamed(const std::vector<ReceivedSpan>& spans, const std::string& prefix) {
  std::vector<const ReceivedSpan*> found;
  for (const ReceivedSpan& span : spans) {
    if (span.operationName.compare(0, prefix.size(), prefix) == 0) found.push_back(&span);
  }
  return found;
}

// The one span whose operation name starts with prefix; raises std::runtime_error unless one.
inline const ReceivedSpan& spanNamed(const std::vector<ReceivedSpan>& spans, const std::string& prefix) {
  const auto found = spansNamed(spans, prefix);
  if (found.size() != 1) throw std::runtime_error(std::to_string(found.size()) + " spans \"" + prefix + "\"");
  return *found[0];
}

// The span's tags in the order sent, "key=TYPE:value" each followed by a space.
inline std::string tagsOf(const ReceivedSpan& span) {
  std::string text;
  for (const testsupport::ReceivedTag& tag : span.tags) text += tag.key + "=" + tag.type + ":" + tag.value + " ";
  return text;
}

// child names parent as its parent id, in parent's trace; a lone child-of is sent as that alone.
inline ::testing::AssertionResult childOf(const ReceivedSpan& child, const ReceivedSpan& parent) {
  if (child.traceIdLow == parent.traceIdLow && child.traceIdHigh == parent.traceIdHigh &&
      child.parentSpanId == parent.spanId && child.references.empty())
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << child.operationName << " is no lone child of " << parent.operationName;
}
