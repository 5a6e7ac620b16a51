// The provider DLL loaded as the driver loads it, its spans checked at the agent listener.
#include <gtest/gtest.h>

#include <opentracing/noop.h>
#include <opentracing/tracer.h>

#include <algorithm>
#include <memory>
#include <string>

#include "diagnostics/vexception.h"
#include "provider/textMap.h"
#include "tests/provider/ProviderLibrary.h"
#include "tests/provider/providerTestSupport.h"

using OpenTracingDriver::ISpanContextProvider;
using OpenTracingDriver::TracerPtr;
using testsupport::ReceivedSpan;

namespace {

const std::string kRootName = "Root Span for module: provider_tracing_tests";

// A provider other than ours, as a caller could mix them up.
class ForeignTracerProvider : public OpenTracingDriver::ITracerProvider {};

// A tracer that fails the ways the interface lets tracers fail: it starts no span and injects
// nothing.
class RefusingTracer : public opentracing::Tracer {
 public:
  static opentracing::expected<void> refused() {
    return opentracing::make_unexpected(opentracing::invalid_span_context_error);
  }
  std::unique_ptr<opentracing::Span> StartSpanWithOptions(opentracing::string_view,
                                                          const opentracing::StartSpanOptions&) const noexcept override {
    return nullptr;
  }
  opentracing::expected<void> Inject(const opentracing::SpanContext&, std::ostream&) const override { return refused(); }
  opentracing::expected<void> Inject(const opentracing::SpanContext&, const opentracing::TextMapWriter&) const override {
    return refused();
  }
  opentracing::expected<void> Inject(const opentracing::SpanContext&,
                                     const opentracing::HTTPHeadersWriter&) const override {
    return refused();
  }
  opentracing::expected<std::unique_ptr<opentracing::SpanContext>> Extract(std::istream&) const override {
    return std::unique_ptr<opentracing::SpanContext>();
  }
  opentracing::expected<std::unique_ptr<opentracing::SpanContext>> Extract(
      const opentracing::TextMapReader&) const override {
    return std::unique_ptr<opentracing::SpanContext>();
  }
  opentracing::expected<std::unique_ptr<opentracing::SpanContext>> Extract(
      const opentracing::HTTPHeadersReader&) const override {
    return std::unique_ptr<opentracing::SpanContext>();
  }
};

class ProviderTracing : public ::testing::Test {
 public:
  ProviderTracing() { SetEnvironmentVariableW(kSpanContextVariable, nullptr); }

  std::unique_ptr<ISpanContextProvider> open(TracerPtr& tracer, const std::string& function, int32_t line,
                                             const std::string& name = "") {
    return openSpan(provider, tracer, function, line, name);
  }

  AgentPortListener agent;
  ProviderLibrary provider;
};

}  // namespace

TEST_F(ProviderTracing, NestedScopesOfAThreadBecomeParentAndChild) {
  TracerPtr tracer(provider.getTracer());
  auto outer = open(tracer, "recyclerPath", 1031);
  EXPECT_TRUE(outer->IsEnabled());
  {
    const auto inner = open(tracer, "removeFile", 7, "cleanup");
    inner->SetTag("std::exception", "access denied");
    inner->SetError("the file stays");
  }
  open(tracer, "afterInner", 9);
  outer.reset();
  tracer.reset();

  const auto spans = agent.flushAndWait(4, {"provider_tracing_tests"});
  ASSERT_EQ(spans.size(), 4u);
  const ReceivedSpan& root = spanNamed(spans, kRootName);
  const ReceivedSpan& first = spanNamed(spans, "NEW: recyclerPath 1031");
  const ReceivedSpan& inner = spanNamed(spans, "CHILD: cleanup (removeFile 7)");
  const ReceivedSpan& next = spanNamed(spans, "CHILD: afterInner 9");
  EXPECT_EQ(root.service, "provider_tracing_tests");
  EXPECT_TRUE(startsATrace(root));
  // Every trace is sampled.
  EXPECT_EQ(tagValue(root, "sampler.type"), "STRING:const");
  EXPECT_EQ(root.flags & 1, 1);
  EXPECT_TRUE(childOf(first, root));
  EXPECT_TRUE(childOf(inner, first));
  EXPECT_TRUE(childOf(next, first)) << "the outer scope is current again once the inner one ended";

  EXPECT_EQ(tagValue(first, "Name"), "STRING:");
  EXPECT_EQ(tagValue(first, "Function"), "STRING:recyclerPath");
  EXPECT_EQ(tagValue(first, "Line"), "LONG:1031");
  EXPECT_EQ(tagValue(inner, "Name"), "STRING:cleanup");
  EXPECT_EQ(tagValue(inner, "std::exception"), "STRING:access denied");
  EXPECT_EQ(tagValue(inner, "error"), "STRING:true");
  EXPECT_EQ(tagValue(inner, "error_description"), "STRING:the file stays");
  EXPECT_EQ(first.tag("error"), nullptr);
}

TEST_F(ProviderTracing, EachThreadStartsUnderTheRootSpanAndItsExitEndsItsCurrentSpan) {
  TracerPtr tracer(provider.getTracer());
  auto mainScope = open(tracer, "mainScope", 1);
  struct Work {
    ProviderTracing* test;
    TracerPtr* tracer;
    ISpanContextProvider* mainScope;
  } work{this, &tracer, mainScope.get()};

  HANDLE worker = CreateThread(
      nullptr, 0,
      [](void* argument) -> DWORD {
        auto& w = *static_cast<Work*>(argument);
        // Nothing is current on this thread yet, so there is no span to tag.
        w.mainScope->SetTag("fromWorker", "lost");
        {
          const auto scope = w.test->open(*w.tracer, "workerScope", 2);
          w.test->open(*w.tracer, "workerChild", 3);
        }
        // Left current on purpose (its object is never freed): the thread's exit ends the span.
        w.test->provider.getSpanContext(*w.tracer, "leftOpen", 4, "");
        return 0;
      },
      &work, 0, nullptr);
  ASSERT_NE(worker, nullptr);
  WaitForSingleObject(worker, INFINITE);
  CloseHandle(worker);
  open(tracer, "mainChild", 5);
  mainScope.reset();
  tracer.reset();

  const auto spans = agent.flushAndWait(6, {"provider_tracing_tests"});
  ASSERT_EQ(spans.size(), 6u);
  const ReceivedSpan& root = spanNamed(spans, kRootName);
  const ReceivedSpan& main = spanNamed(spans, "NEW: mainScope 1");
  const ReceivedSpan& workerScope = spanNamed(spans, "NEW: workerScope 2");
  EXPECT_TRUE(childOf(main, root));
  EXPECT_TRUE(childOf(workerScope, root)) << "a thread's first span is not under another thread's";
  EXPECT_TRUE(childOf(spanNamed(spans, "CHILD: workerChild 3"), workerScope));
  EXPECT_TRUE(childOf(spanNamed(spans, "NEW: leftOpen 4"), root));
  EXPECT_TRUE(childOf(spanNamed(spans, "CHILD: mainChild 5"), main));
  EXPECT_EQ(main.tag("fromWorker"), nullptr);
}

TEST_F(ProviderTracing, FailuresLeaveTheThreadsSpansAsTheyWereAndTheRootSpanIsRetried) {
  TracerPtr tracer(provider.getTracer());
  const auto jaeger = opentracing::Tracer::Global();
  const auto refusing = std::make_shared<RefusingTracer>();

  opentracing::Tracer::InitGlobal(refusing);
  EXPECT_THROW(open(tracer, "noRootYet", 1), vexception);
  opentracing::Tracer::InitGlobal(jaeger);
  auto outer = open(tracer, "outer", 2);

  opentracing::Tracer::InitGlobal(refusing);
  EXPECT_THROW(open(tracer, "refused", 3), vexception);
  SetEnvironmentVariableW(kSpanContextVariable, L"older");
  provider.injectCurrentSpan(tracer);
  wchar_t value[16] = {};
  EXPECT_EQ(GetEnvironmentVariableW(kSpanContextVariable, value, 16), 5u);
  EXPECT_STREQ(value, L"older") << "a failed injection keeps what the variable held";
  opentracing::Tracer::InitGlobal(jaeger);
  open(tracer, "afterRefusal", 4);
  outer.reset();

  // Only this provider's holder leads to a root span.
  TracerPtr foreign(new ForeignTracerProvider);
  TracerPtr none;
  EXPECT_THROW(open(foreign, "foreign", 5), ArgumentException);
  EXPECT_THROW(open(none, "none", 6), ArgumentException);
  EXPECT_THROW(provider.injectCurrentSpan(foreign), ArgumentException);
  tracer.reset();

  const auto spans = agent.flushAndWait(3, {"provider_tracing_tests"});
  ASSERT_EQ(spans.size(), 3u);
  const ReceivedSpan& root = spanNamed(spans, kRootName);
  EXPECT_TRUE(startsATrace(root));
  EXPECT_TRUE(childOf(spanNamed(spans, "NEW: outer 2"), root));
  EXPECT_TRUE(childOf(spanNamed(spans, "CHILD: afterRefusal 4"), spanNamed(spans, "NEW: outer 2")));
}

TEST_F(ProviderTracing, AVariableWithoutASpanContextStartsANewTrace) {
  std::shared_ptr<opentracing::Tracer> previous;
  for (const wchar_t* value : {L"no separator here", L"uber-trace-id/not a span context;x/y", L""}) {
    SetEnvironmentVariableW(kSpanContextVariable, value);
    TracerPtr tracer(provider.getTracer());
    EXPECT_NE(opentracing::Tracer::Global(), previous) << "each holder installs a tracer of its own";
    previous = opentracing::Tracer::Global();
    open(tracer, "scope", 1);
  }
  previous.reset();

  const auto spans = agent.flushAndWait(6, {"provider_tracing_tests"});
  ASSERT_EQ(spans.size(), 6u);
  std::vector<const ReceivedSpan*> roots;
  for (const auto& span : spans) {
    if (span.operationName == kRootName) roots.push_back(&span);
  }
  ASSERT_EQ(roots.size(), 3u);
  for (const ReceivedSpan* root : roots) {
    EXPECT_TRUE(startsATrace(*root));
    const auto scope = std::find_if(spans.begin(), spans.end(), [&](const ReceivedSpan& span) {
      return span.operationName == "NEW: scope 1" && span.parentSpanId == root->spanId;
    });
    ASSERT_NE(scope, spans.end());
    EXPECT_TRUE(childOf(*scope, *root));
  }
  EXPECT_NE(roots[0]->traceIdLow, roots[1]->traceIdLow);
  EXPECT_NE(roots[1]->traceIdLow, roots[2]->traceIdLow);
}
