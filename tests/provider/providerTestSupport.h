#pragma once
// What the tests of the provider's spans share: looking spans up and checking how they hang
// together, as the agent listener decoded them.

#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "provider/providerEntryPoints.h"
#include "tests/support/AgentListener.h"
#include "tests/support/productSettings.h"

// Tracing switched on in the product's settings, no span context inherited, and the agent's fixed
// port, where the provider's tracer reports, listened on.
class TracingOn : public ::testing::Test {
 protected:
  TracingOn() {
    SetEnvironmentVariableW(kSpanContextVariable, nullptr);
    values.set(L"opentracing_enabled", 1);
  }

  ProductSettings values;
  testsupport::AgentListener agent{6831};
};

// The spans whose operation names start with prefix.
std::vector<const testsupport::ReceivedSpan*> spansNamed(const std::vector<testsupport::ReceivedSpan>& spans,
                                                         const std::string& prefix);

// The one span whose operation name starts with prefix; raises std::runtime_error when there is
// none or more.
const testsupport::ReceivedSpan& spanNamed(const std::vector<testsupport::ReceivedSpan>& spans,
                                           const std::string& prefix);

// The tag as "TYPE:value" the way the listener decoded it, e.g. "LONG:1031" or "STRING:text";
// raises std::runtime_error when the span has no such tag.
std::string tagValue(const testsupport::ReceivedSpan& span, const std::string& key);

// child names parent in its parent id and in its one reference, a child-of.
::testing::AssertionResult childOf(const testsupport::ReceivedSpan& child, const testsupport::ReceivedSpan& parent);
