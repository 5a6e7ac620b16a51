// The provider DLL loaded by the driver's state, here and in hosts: spans checked at the agent.
#include <opentracing/tracer.h>

#include <algorithm>
#include <thread>

#include "diagnostics/vexception.h"
#include "driver/OpenTracingDriverState.h"
#include "platform/stringConversion.h"
#include "tests/diagnostics/log/logTestSupport.h"
#include "tests/provider/providerTestSupport.h"

static const std::string kRootName = "Root Span for module: provider_tracing_tests";

// A provider other than ours, as a caller could mix them up.
class ForeignTracerProvider : public OpenTracingDriver::ITracerProvider {};

// A tracer that starts no span, injects nothing and extracts no span context.
class RefusingTracer : public opentracing::Tracer {
  using Context = opentracing::expected<std::unique_ptr<opentracing::SpanContext>>;
  using Injected = opentracing::expected<void>;
  using SpanContext = opentracing::SpanContext;
  using Options = opentracing::StartSpanOptions;
  static Injected refused() { return opentracing::make_unexpected(opentracing::invalid_span_context_error); }

 public:
  std::unique_ptr<opentracing::Span> StartSpanWithOptions(opentracing::string_view, const Options&) const noexcept
      override { return nullptr; }
  Injected Inject(const SpanContext&, std::ostream&) const override { return refused(); }
  Injected Inject(const SpanContext&, const opentracing::TextMapWriter&) const override { return refused(); }
  Injected Inject(const SpanContext&, const opentracing::HTTPHeadersWriter&) const override { return refused(); }
  Context Extract(std::istream&) const override { return Context(); }
  Context Extract(const opentracing::TextMapReader&) const override { return Context(); }
  Context Extract(const opentracing::HTTPHeadersReader&) const override { return Context(); }
};

using ProviderTracing = TracingOn;

// A variable holding no span context starts a trace of its own; a refusal may meet a root's making.
TEST_F(ProviderTracing, ScopesNestPerThreadUnderTheRootSpanAndFailuresLeaveThemAsTheyWere) {
  SetEnvironmentVariableW(kSpanContextVariable, L"no separator here");  // no key and value at all
  OpenTracingDriverState driver;
  driver.startSpan("loaded", 0, "");
  driver.tracer.reset(driver.getTracer());
  SetEnvironmentVariableW(kSpanContextVariable, L"uber-trace-id/not a span context;x/y");
  const auto jaeger = opentracing::Tracer::Global();
  const auto refusing = std::make_shared<RefusingTracer>();
  opentracing::Tracer::InitGlobal(refusing);
  EXPECT_THROW(driver.startSpan("noRootYet", 1, ""), vexception);
  opentracing::Tracer::InitGlobal(jaeger);

  auto outer = driver.startSpan("recyclerPath", 1031, "");
  {
    const auto inner = driver.startSpan("removeFile", 7, "cleanup");
    inner->SetTag("std::exception", "access denied");
    inner->SetError("the file stays");
  }
  opentracing::Tracer::InitGlobal(refusing);
  EXPECT_THROW(driver.startSpan("refused", 3, ""), vexception);
  SetEnvironmentVariableW(kSpanContextVariable, L"older");
  driver.injectSpan();
  wchar_t value[16] = {};
  GetEnvironmentVariableW(kSpanContextVariable, value, 16);
  EXPECT_STREQ(value, L"older") << "a failed injection keeps what the variable held";
  opentracing::Tracer::InitGlobal(jaeger);
  std::thread([&] {
    outer->SetTag("fromWorker", "lost");  // nothing is current on this thread, so nothing is tagged
    // Left current on purpose (its object is never freed): the thread's exit ends the span.
    driver.startSpan("leftOpen", 4, "").release();
  }).join();
  driver.startSpan("afterInner", 9, "");
  outer.reset();

  OpenTracingDriver::TracerPtr foreign(new ForeignTracerProvider);
  OpenTracingDriver::TracerPtr none;
  EXPECT_THROW(driver.getSpanContext(foreign, "foreign", 5, ""), ArgumentException);
  EXPECT_THROW(driver.getSpanContext(none, "none", 6, ""), ArgumentException);
  EXPECT_THROW(driver.injectCurrentSpan(foreign), ArgumentException);
  driver.endTracing();

  const auto spans = agent.waitForSpans(7);
  ASSERT_EQ(spans.size(), 7u);
  const ReceivedSpan& first = spanNamed(spans, "NEW: recyclerPath 1031");
  const ReceivedSpan& inner = spanNamed(spans, "CHILD: cleanup (removeFile 7)");
  const auto roots = spansNamed(spans, kRootName);
  ASSERT_EQ(roots.size(), 2u);
  const ReceivedSpan& root = *roots[roots[0]->spanId == first.parentSpanId ? 0 : 1];
  EXPECT_EQ(root.parentSpanId, 0u);
  EXPECT_EQ(root.flags & 1, 1) << "every trace is sampled";
  EXPECT_EQ(tagsOf(root), "sampler.type=STRING:const sampler.param=BOOL:true ");
  EXPECT_TRUE(childOf(first, root));
  EXPECT_TRUE(childOf(inner, first));
  EXPECT_TRUE(childOf(spanNamed(spans, "CHILD: afterInner 9"), first)) << "the outer scope is current again";
  EXPECT_TRUE(childOf(spanNamed(spans, "NEW: leftOpen 4"), root)) << "a thread's first span is not under another's";
  EXPECT_EQ(tagsOf(first), "Name=STRING: Function=STRING:recyclerPath Line=LONG:1031 ");
  EXPECT_EQ(tagsOf(inner), "Name=STRING:cleanup Function=STRING:removeFile Line=LONG:7 "
                           "std::exception=STRING:access denied error=STRING:true "
                           "error_description=STRING:the file stays ");
}

// A host's service is its executable's name through the ANSI code page, sent in UTF-8.
TEST_F(ProviderTracing, AHostContinuesTheInjectedSpanUnderItsExecutablesName) {
  if (GetACP() != 1252) GTEST_SKIP() << "the ANSI code page is " << GetACP() << ", not 1252";
  const std::wstring log = todaysLogFile(makeProductRoot(values, L"tracinghealth"), L"debug");
  values.set(L"Debug", 1);
  OpenTracingDriverState driver;
  driver.injectSpan();
  ASSERT_EQ(runHost(L"Tool.Name.exe", L"trace oversized").exitCode, 0u);  // a span no datagram holds: counted
  {
    const auto outer = driver.startSpan("outer", 1, "");
    {
      const auto inner = driver.startSpan("inner", 2, "");
      driver.injectSpan();
      ASSERT_EQ(runHost(L"Caf\u00e9.exe", L"trace").exitCode, 0u);
    }
    driver.injectSpan();
    wchar_t text[1024] = {};
    GetEnvironmentVariableW(kSpanContextVariable, text, 1024);
    EXPECT_EQ(std::wstring(text).rfind(L"uber-trace-id/", 0), 0u) << "one pair of key and value: " << text;
    EXPECT_EQ(std::wstring(text).find(L';'), std::wstring::npos) << text;
    ASSERT_EQ(runHost(L"Tool\u16A0Rune.exe", L"trace").exitCode, 0u);
  }
  driver.endTracing();

  const auto spans = agent.waitForSpans(8);
  ASSERT_EQ(spans.size(), 8u);
  const struct {
    const ReceivedSpan& injected;
    std::string service;
    int scopes;
  } hosts[] = {{spanNamed(spans, kRootName), "Tool.Name", 0},
               {spanNamed(spans, "CHILD: inner 2"), "Caf\xC3\xA9", 1},
               {spanNamed(spans, "NEW: outer 1"), "Tool?Rune", 1}};  // the code page's default character
  for (const auto& host : hosts) {
    const ReceivedSpan& root = spanNamed(spans, "Propagated Root Span for module: " + host.service);
    EXPECT_EQ(root.service, host.service);
    EXPECT_TRUE(childOf(root, host.injected));
    EXPECT_EQ(std::count_if(spans.begin(), spans.end(), [&](const ReceivedSpan& span) {
                return span.operationName == "NEW: host (hostMain 1)" && span.service == host.service &&
                       childOf(span, root);
              }), host.scopes);
  }
  const std::wstring logged = fromUtf16(readBytes(log));
  const std::wstring warning =
      L"Warning: Tracing of Tool.Name lost 1 spans: 0 on a full queue, 1 too large for a datagram, "
      L"0 without memory, 0 in datagrams the agent's port refused (0 datagrams refused)";
  const size_t at = logged.find(warning);
  ASSERT_NE(at, std::wstring::npos) << cstr(logged, CP_UTF8);
  EXPECT_EQ(logged.find(L"Tracing of"), logged.rfind(L"Tracing of")) << "one Warning, of the one host that lost";
  EXPECT_NE(logged.find(L"OpenTracingTracer::~OpenTracingTracer", at), std::wstring::npos);
}
