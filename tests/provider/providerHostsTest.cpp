// Real host processes of the provider: their names become service names, a parent's injected
// span context carries its trace into the children it starts, and spans lost on the way leave a
// Warning in the day's log.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "provider/textMap.h"
#include "platform/stringConversion.h"
#include "tests/diagnostics/log/logTestSupport.h"
#include "tests/provider/providerTestSupport.h"

using OpenTracingDriver::TracerPtr;
using testsupport::ReceivedSpan;

namespace {

const std::string kHostSpan = "NEW: host (hostMain 1)";

class ProviderHosts : public ::testing::Test {
 public:
  ProviderHosts() { SetEnvironmentVariableW(kSpanContextVariable, nullptr); }

  AgentPortListener agent;
  ProviderLibrary provider;
};

// The host's two spans: its root span, of that name, and its one scope under it.
::testing::AssertionResult hostTraced(const std::vector<ReceivedSpan>& spans, const std::string& service,
                                      const std::string& rootName) {
  const ReceivedSpan* root = testsupport::findSpan(spans, rootName);
  const ReceivedSpan* scope = testsupport::findSpan(spans, kHostSpan);
  if (!root || !scope) return ::testing::AssertionFailure() << "no spans " << rootName << " and " << kHostSpan;
  if (root->service != service || scope->service != service)
    return ::testing::AssertionFailure() << "service " << root->service << ", not " << service;
  if (!startsATrace(*root)) return startsATrace(*root);
  return childOf(*scope, *root);
}

}  // namespace

// The service is the executable's name without its last extension, in the ANSI code page (a
// character outside it becomes the code page's default character) and sent in UTF-8.
TEST_F(ProviderHosts, TheServiceIsTheExecutableNameWithoutItsLastExtension) {
  CPINFOEXW codePage = {};
  ASSERT_TRUE(GetCPInfoExW(CP_ACP, 0, &codePage));
  if (GetACP() != 1252) GTEST_SKIP() << "the ANSI code page is " << GetACP() << ", not 1252";
  // A runic letter is in no single-byte Windows code page; 0xE9 is in 1252.
  const struct {
    const wchar_t* executable;
    std::string service;
  } hosts[] = {{L"Tool.Name.exe", "Tool.Name"},
               {L"Caf\u00e9.exe", "Caf\xC3\xA9"},
               {L"Tool\u16A0Rune.exe", std::string("Tool") + static_cast<char>(codePage.DefaultChar[0]) + "Rune"}};
  for (const auto& host : hosts) {
    ASSERT_EQ(runHost(host.executable), 0u);
    EXPECT_TRUE(hostTraced(agent.flushAndWait(2, {host.service}), host.service, "Root Span for module: " + host.service));
  }
}

TEST_F(ProviderHosts, SpansLostOnTheWayLeaveOneWarningInTheDaysLogAndNoneOtherwise) {
  ProductSettings values;
  const std::wstring root = makeProductRoot(values, L"tracinghealth");
  values.set(L"Debug", 1);
  const std::wstring log = todaysLogFile(root, L"debug");

  ASSERT_EQ(runHost(L"provider_host.exe"), 0u);
  EXPECT_EQ(fromUtf16(readBytes(log)).find(L"Tracing of"), std::wstring::npos) << "nothing was lost";

  // The host's scope carries a tag no datagram can hold: that span is dropped and counted.
  ASSERT_EQ(runHost(L"provider_host.exe", L"oversized"), 0u);
  const std::wstring text = fromUtf16(readBytes(log));
  const std::wstring warning =
      L"Warning: Tracing of provider_host lost 1 spans: 0 on a full queue, 1 too large for a datagram, "
      L"0 without memory, 0 in datagrams the agent's port refused (0 datagrams refused)";
  const size_t at = text.find(warning);
  ASSERT_NE(at, std::wstring::npos) << cstr(text, CP_UTF8);
  EXPECT_EQ(text.find(L"Tracing of", at + warning.size()), std::wstring::npos) << "one Warning for the one host";
  EXPECT_NE(text.find(L"OpenTracingTracer::~OpenTracingTracer", at), std::wstring::npos);
}

TEST_F(ProviderHosts, AChildContinuesTheTraceOfTheSpanInjectedBeforeItStarted) {
  TracerPtr tracer(provider.getTracer());
  // No span is current yet: the root span, started by this, goes to the first child.
  provider.injectCurrentSpan(tracer);
  ASSERT_EQ(runHost(L"provider_host.exe"), 0u);
  {
    const auto outer = openSpan(provider, tracer, "outer", 1);
    {
      const auto inner = openSpan(provider, tracer, "inner", 2);
      provider.injectCurrentSpan(tracer);
    }
    // The inner span has ended, but the variable still holds it until the next injection.
    ASSERT_EQ(runHost(L"provider_host.exe"), 0u);
    provider.injectCurrentSpan(tracer);
    wchar_t text[1024] = {};
    ASSERT_GT(GetEnvironmentVariableW(kSpanContextVariable, text, 1024), 0u);
    TextMap map;
    parseTextMap(map, cstr(text, CP_ACP), "/", ";");
    EXPECT_EQ(map.count("uber-trace-id"), 1u) << cstr(text, CP_ACP);
    ASSERT_EQ(runHost(L"provider_host.exe"), 0u);
  }
  tracer.reset();

  const auto spans = agent.flushAndWait(9, {"provider_hosts_tests", "provider_host"});
  ASSERT_EQ(spans.size(), 9u);
  const ReceivedSpan& root = spanNamed(spans, "Root Span for module: provider_hosts_tests");
  EXPECT_TRUE(startsATrace(root));
  for (const ReceivedSpan* injected :
       {&root, &spanNamed(spans, "CHILD: inner 2"), &spanNamed(spans, "NEW: outer 1")}) {
    const auto child = std::find_if(spans.begin(), spans.end(), [&](const ReceivedSpan& span) {
      return span.operationName == "Propagated Root Span for module: provider_host" &&
             span.parentSpanId == injected->spanId;
    });
    ASSERT_NE(child, spans.end()) << "no child continued " << injected->operationName;
    EXPECT_EQ(child->service, "provider_host");
    EXPECT_TRUE(childOf(*child, *injected));
    const auto scope = std::find_if(spans.begin(), spans.end(), [&](const ReceivedSpan& span) {
      return span.operationName == kHostSpan && span.parentSpanId == child->spanId;
    });
    ASSERT_NE(scope, spans.end());
    EXPECT_TRUE(childOf(*scope, *child));
  }
}
