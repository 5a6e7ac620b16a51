#pragma once
// What the provider tests share: the agent listener on the fixed port the provider's tracer
// sends to, child processes and the received spans.

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "provider/providerEntryPoints.h"
#include "tests/provider/ProviderLibrary.h"
#include "tests/support/AgentListener.h"

// The listener bound to 127.0.0.1:6831. Another process on that port (the listener of the test
// before, still shutting down, or of another build's tests) is waited for first, and on
// destruction this one is waited for.
class AgentPortListener {
 public:
  explicit AgentPortListener(testsupport::AgentListener::Record record = testsupport::AgentListener::Record::EachSpan);
  ~AgentPortListener();
  AgentPortListener(const AgentPortListener&) = delete;
  AgentPortListener& operator=(const AgentPortListener&) = delete;

  // Closes the global tracer, which sends what it still holds, and waits for count spans of
  // these services. Spans of other processes that send to the agent port are left out.
  std::vector<testsupport::ReceivedSpan> flushAndWait(size_t count, const std::vector<std::string>& services) const;
  // Closes the global tracer and stops the listener: what it counted.
  testsupport::AgentSummary flushAndSummarize();

 private:
  std::unique_ptr<testsupport::AgentListener> listener_;
};

// Runs an executable of the test's folder with the inherited environment; its exit code.
DWORD runHost(const std::wstring& fileName, const std::wstring& arguments = L"");

// The span of this operation name; fails the test when there is none.
const testsupport::ReceivedSpan& spanNamed(const std::vector<testsupport::ReceivedSpan>& spans,
                                           const std::string& operationName);

// The tag as "TYPE:value" the way the listener decoded it, e.g. "LONG:1031" or "STRING:text".
std::string tagValue(const testsupport::ReceivedSpan& span, const std::string& key);

// A span context of the provider, owned as the driver owns it.
std::unique_ptr<OpenTracingDriver::ISpanContextProvider> openSpan(const ProviderLibrary& provider,
                                                                  OpenTracingDriver::TracerPtr& tracer,
                                                                  const std::string& function, int32_t line,
                                                                  const std::string& name = "");

// child names parent in its parent id and in its one reference, a child-of.
::testing::AssertionResult childOf(const testsupport::ReceivedSpan& child, const testsupport::ReceivedSpan& parent);

// The span has no parent: it is the first of its trace.
::testing::AssertionResult startsATrace(const testsupport::ReceivedSpan& span);
