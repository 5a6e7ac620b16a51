// Span contexts through text maps, HTTP headers and binary streams, whole or corrupted.

#include <gtest/gtest.h>

#include <sstream>

#include "jaegertracing/Tracer.h"
#include "tests/support/AgentListener.h"

namespace {

using Values = std::map<std::string, std::string>;
using Extracted = opentracing::expected<std::unique_ptr<opentracing::SpanContext>>;

// A carrier of either text form: the tracer is told which by the interface it is handed.
struct Carrier : opentracing::HTTPHeadersReader, opentracing::HTTPHeadersWriter {
  opentracing::expected<void> Set(opentracing::string_view key, opentracing::string_view value) const override {
    values[key] = value;
    return {};
  }
  opentracing::expected<void> ForeachKey(
      std::function<opentracing::expected<void>(opentracing::string_view, opentracing::string_view)> f)
      const override {
    for (const auto& item : values) {
      if (auto result = f(item.first, item.second); !result) return result;
    }
    return {};
  }
  mutable Values values;
};

class JaegerPropagation : public ::testing::Test {
 protected:
  Values inject(const opentracing::SpanContext& context, bool headers = false) {
    Carrier carrier;
    EXPECT_TRUE(headers ? tracer->Inject(context, static_cast<const opentracing::HTTPHeadersWriter&>(carrier))
                        : tracer->Inject(context, static_cast<const opentracing::TextMapWriter&>(carrier)));
    return carrier.values;
  }
  Extracted extract(Values values, bool headers = false) {
    Carrier carrier;
    carrier.values = std::move(values);
    return headers ? tracer->Extract(static_cast<const opentracing::HTTPHeadersReader&>(carrier))
                   : tracer->Extract(static_cast<const opentracing::TextMapReader&>(carrier));
  }

  testsupport::AgentListener listener;
  std::shared_ptr<opentracing::Tracer> tracer = jaegertracing::Tracer::make(
      "propagation.test", jaegertracing::Config(false, jaegertracing::samplers::Config("const", 1),
                                                jaegertracing::reporters::Config(100, {}, false, listener.hostPort())));
};

}  // namespace

// Each form carries the ids, the flags and the baggage; a child of what it gives continues the
// trace. A binary stream cut short is corrupted. A debug id starts a sampled debug trace.
TEST_F(JaegerPropagation, EachFormCarriesIdsFlagsAndBaggage) {
  auto span = tracer->StartSpan("parent");
  span->SetBaggageItem("user", "alice smith");
  const std::string trace = span->context().ToTraceID();
  const std::string spanId = span->context().ToSpanID();
  const Values map = inject(span->context());
  EXPECT_EQ(trace + ":" + spanId + ":0:1", map.at("uber-trace-id"));
  EXPECT_EQ("alice smith", map.at("uberctx-user"));
  const Values headers = inject(span->context(), true);
  EXPECT_EQ(trace + "%3A" + spanId + "%3A0%3A1", headers.at("uber-trace-id"));
  EXPECT_EQ("alice%20smith", headers.at("uberctx-user"));
  std::stringstream binary;
  ASSERT_TRUE(tracer->Inject(span->context(), binary));

  auto continues = [&](const char* form, Extracted extracted) {
    ASSERT_TRUE(extracted && *extracted) << form;
    EXPECT_EQ(spanId, (*extracted)->ToSpanID()) << form;
    auto child = tracer->StartSpan("remote child", {opentracing::ChildOf(extracted->get())});
    EXPECT_EQ(trace, child->context().ToTraceID()) << form;
    EXPECT_EQ("alice smith", child->BaggageItem("user")) << form;
  };
  continues("text map", extract(map));
  continues("headers", extract(headers, true));
  const std::string bytes = binary.str();
  continues("binary", tracer->Extract(binary));
  for (size_t cut : {size_t(1), size_t(20), bytes.size() - 1}) {
    std::stringstream truncated(bytes.substr(0, cut));
    auto result = tracer->Extract(truncated);
    ASSERT_FALSE(result) << cut;
    EXPECT_EQ(opentracing::span_context_corrupted_error, result.error());
  }
  // A trace id of 128 bits and the debug flag come back as they went.
  const auto wide = extract({{"uber-trace-id", "1234567890abcdef00000000000000ff:2a:1:3"}});
  ASSERT_TRUE(wide && *wide);
  EXPECT_EQ("1234567890abcdef00000000000000ff:2a:1:3", inject(**wide).at("uber-trace-id"));

  auto debug = extract({{"jaeger-debug-id", "case-17"}, {"jaeger-baggage", "tenant=blue, region = north"}});
  ASSERT_TRUE(debug && *debug);
  auto root = tracer->StartSpan("debug root", {opentracing::ChildOf(debug->get())});
  EXPECT_EQ("blue", root->BaggageItem("tenant"));
  EXPECT_EQ("north", root->BaggageItem("region"));
  root->Finish();
  tracer->Close();
  listener.stop();
  const auto spans = listener.spans();
  const auto* received = testsupport::findSpan(spans, "debug root");
  ASSERT_TRUE(received);
  EXPECT_EQ(3, received->flags);
  EXPECT_EQ(0u, received->parentSpanId);
  EXPECT_EQ("case-17", received->tag("jaeger-debug-id") ? received->tag("jaeger-debug-id")->value : "none");
}

TEST_F(JaegerPropagation, CorruptedOrEmptyCarriersNeverCrash) {
  for (const char* bad : {"", "garbage", "1:2:3", "1:2:3:4:5", "xyz:1:0:1", "0:1:0:1", "1:0:0:1",
                          "123456789012345678901234567890123:1:0:1", "1:2:3:100", "1::0:1"}) {
    auto result = extract({{"uber-trace-id", bad}});
    ASSERT_FALSE(result) << bad;
    EXPECT_EQ(opentracing::span_context_corrupted_error, result.error()) << bad;
  }
  auto unrelated = extract({{"unrelated", "value"}});
  EXPECT_TRUE(unrelated && !*unrelated);
  std::stringstream nothing;
  auto none = tracer->Extract(nothing);
  EXPECT_TRUE(none && !*none);
}

// Header names come in any letter case, and a value's escapes decode up to its last character.
TEST_F(JaegerPropagation, HeaderValuesDecodeEscapesUpToTheLastCharacter) {
  const std::pair<const char*, const char*> cases[] = {{"hello%20", "hello "}, {"%41", "A"}, {"a%3a%3A", "a::"},
                                                       {"a+b", "a b"}, {"a%2", "a%2"}, {"a%", "a%"},
                                                       {"%g1x", "%g1x"}};
  for (const auto& c : cases) {
    auto context = extract({{"Uber-Trace-Id", "ab%3Acd%3A0%3A1"}, {"UberCtx-Item", c.first}}, true);
    ASSERT_TRUE(context && *context) << c.first;
    EXPECT_EQ((Values{{"uber-trace-id", "ab:cd:0:1"}, {"uberctx-item", c.second}}), inject(**context)) << c.first;
  }
}

// OpenTracing's convention: a new span's parent is its first child-of reference, whatever its
// place among the references; only without one is it the first follows-from.
TEST_F(JaegerPropagation, TheFirstChildOfReferenceIsTheParentWhereverItStands) {
  const auto a = extract({{"uber-trace-id", "a1:a2:0:0"}});
  const auto b = extract({{"uber-trace-id", "b1:b2:0:1"}});
  ASSERT_TRUE(a && *a && b && *b);
  using Ref = opentracing::SpanReferenceType;
  using Refs = std::vector<std::pair<Ref, const opentracing::SpanContext*>>;
  const std::pair<Refs, const char*> cases[] = {
      {Refs{{Ref::FollowsFromRef, a->get()}, {Ref::ChildOfRef, b->get()}}, "b1:b2:1"},
      {Refs{{Ref::FollowsFromRef, a->get()}, {Ref::FollowsFromRef, b->get()}}, "a1:a2:0"},
      {Refs{{Ref::FollowsFromRef, b->get()}, {Ref::ChildOfRef, a->get()}, {Ref::ChildOfRef, b->get()}}, "a1:a2:0"}};
  for (const auto& c : cases) {
    opentracing::StartSpanOptions options;
    options.references = c.first;
    auto span = tracer->StartSpanWithOptions("referring", options);
    ASSERT_TRUE(span);
    const std::string text = inject(span->context()).at("uber-trace-id");
    const size_t spanStart = text.find(':') + 1;
    EXPECT_EQ(c.second, text.substr(0, spanStart) + text.substr(text.find(':', spanStart) + 1)) << text;
  }
}
