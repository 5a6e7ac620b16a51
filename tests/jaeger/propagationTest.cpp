// Span contexts through text maps, HTTP headers and binary streams, and what corrupted or
// partial carriers give.

#include <gtest/gtest.h>

#include <opentracing/propagation.h>
#include <opentracing/tracer.h>

#include <sstream>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "jaegertracing/Tracer.h"
#include "tests/support/AgentListener.h"

namespace {

struct Carrier : opentracing::TextMapReader, opentracing::TextMapWriter {
  opentracing::expected<void> Set(opentracing::string_view key, opentracing::string_view value) const override {
    values[key] = value;
    return {};
  }
  opentracing::expected<void> ForeachKey(
      std::function<opentracing::expected<void>(opentracing::string_view, opentracing::string_view)> f)
      const override {
    for (const auto& item : values) {
      auto result = f(item.first, item.second);
      if (!result) return result;
    }
    return {};
  }
  mutable std::unordered_map<std::string, std::string> values;
};

struct Headers : opentracing::HTTPHeadersReader, opentracing::HTTPHeadersWriter {
  opentracing::expected<void> Set(opentracing::string_view key, opentracing::string_view value) const override {
    return carrier.Set(key, value);
  }
  opentracing::expected<void> ForeachKey(
      std::function<opentracing::expected<void>(opentracing::string_view, opentracing::string_view)> f)
      const override {
    return carrier.ForeachKey(f);
  }
  Carrier carrier;
};

class JaegerPropagation : public ::testing::Test {
 protected:
  JaegerPropagation()
      : tracer(jaegertracing::Tracer::make(
            "propagation.test",
            jaegertracing::Config(false, jaegertracing::samplers::Config("const", 1),
                                  jaegertracing::reporters::Config(100, std::chrono::seconds(1), false,
                                                                   listener.hostPort())))) {}

  std::unique_ptr<opentracing::SpanContext> extract(const Carrier& carrier) {
    auto result = tracer->Extract(static_cast<const opentracing::TextMapReader&>(carrier));
    EXPECT_TRUE(result) << result.error().message();
    return result ? std::move(*result) : nullptr;
  }

  testsupport::AgentListener listener;
  std::shared_ptr<opentracing::Tracer> tracer;
};

}  // namespace

TEST_F(JaegerPropagation, TextMapCarriesIdsFlagsAndBaggage) {
  auto span = tracer->StartSpan("parent");
  span->SetBaggageItem("user", "alice");
  Carrier carrier;
  ASSERT_TRUE(tracer->Inject(span->context(), static_cast<const opentracing::TextMapWriter&>(carrier)));
  const std::string text = carrier.values.at("uber-trace-id");
  EXPECT_EQ(span->context().ToTraceID() + ":" + span->context().ToSpanID() + ":0:1", text);
  EXPECT_EQ(text, [&] { std::string lower = text; for (auto& c : lower) c = static_cast<char>(std::tolower(c)); return lower; }());
  EXPECT_EQ("alice", carrier.values.at("uberctx-user"));

  auto extracted = extract(carrier);
  ASSERT_TRUE(extracted);
  EXPECT_EQ(span->context().ToTraceID(), extracted->ToTraceID());
  EXPECT_EQ(span->context().ToSpanID(), extracted->ToSpanID());
  std::string user;
  extracted->ForeachBaggageItem([&](const std::string& k, const std::string& v) {
    if (k == "user") user = v;
    return true;
  });
  EXPECT_EQ("alice", user);

  // A child of the extracted context continues the trace and inherits its baggage.
  auto child = tracer->StartSpan("remote child", {opentracing::ChildOf(extracted.get())});
  EXPECT_EQ(span->context().ToTraceID(), child->context().ToTraceID());
  EXPECT_EQ("alice", child->BaggageItem("user"));
}

TEST_F(JaegerPropagation, WideTraceIdsAndHeaderEncodingSurviveTheRoundTrip) {
  Carrier carrier;
  carrier.values["uber-trace-id"] = "1234567890abcdef00000000000000ff:2a:1:3";
  auto context = extract(carrier);
  ASSERT_TRUE(context);
  EXPECT_EQ("1234567890abcdef00000000000000ff", context->ToTraceID());
  Carrier again;
  ASSERT_TRUE(tracer->Inject(*context, static_cast<const opentracing::TextMapWriter&>(again)));
  EXPECT_EQ("1234567890abcdef00000000000000ff:2a:1:3", again.values.at("uber-trace-id"));

  Headers headers;
  headers.carrier.values["Uber-Trace-Id"] = "ab%3Acd%3A0%3A1";
  headers.carrier.values["UberCtx-Greeting"] = "hello%20world";
  auto fromHeaders = tracer->Extract(static_cast<const opentracing::HTTPHeadersReader&>(headers));
  ASSERT_TRUE(fromHeaders && *fromHeaders);
  EXPECT_EQ("ab", (*fromHeaders)->ToTraceID());
  auto child = tracer->StartSpan("child", {opentracing::ChildOf(fromHeaders->get())});
  EXPECT_EQ("hello world", child->BaggageItem("greeting"));
  Headers out;
  ASSERT_TRUE(tracer->Inject(child->context(), static_cast<const opentracing::HTTPHeadersWriter&>(out)));
  EXPECT_EQ("hello%20world", out.carrier.values.at("uberctx-greeting"));
  EXPECT_NE(std::string::npos, out.carrier.values.at("uber-trace-id").find("%3A"));
}

TEST_F(JaegerPropagation, CorruptedOrEmptyCarriersNeverCrash) {
  for (const char* bad : {"", "garbage", "1:2:3", "1:2:3:4:5", "xyz:1:0:1", "0:1:0:1", "1:0:0:1",
                          "123456789012345678901234567890123:1:0:1", "1:2:3:100", "1::0:1"}) {
    Carrier carrier;
    carrier.values["uber-trace-id"] = bad;
    auto result = tracer->Extract(static_cast<const opentracing::TextMapReader&>(carrier));
    ASSERT_FALSE(result) << bad;
    EXPECT_EQ(opentracing::span_context_corrupted_error, result.error()) << bad;
  }
  Carrier empty;
  empty.values["unrelated"] = "value";
  EXPECT_FALSE(extract(empty));

  std::stringstream nothing;
  auto none = tracer->Extract(nothing);
  ASSERT_TRUE(none);
  EXPECT_FALSE(*none);
}

TEST_F(JaegerPropagation, DebugIdAndBaggageHeaderStartADebugTrace) {
  Carrier carrier;
  carrier.values["jaeger-debug-id"] = "case-17";
  carrier.values["jaeger-baggage"] = "tenant=blue, region = north";
  auto context = extract(carrier);
  ASSERT_TRUE(context);
  {
    auto root = tracer->StartSpan("debug root", {opentracing::ChildOf(context.get())});
    EXPECT_EQ("blue", root->BaggageItem("tenant"));
    EXPECT_EQ("north", root->BaggageItem("region"));
  }
  tracer->Close();
  auto spans = listener.waitForSpans(1);
  ASSERT_EQ(1u, spans.size());
  EXPECT_EQ(3, spans[0].flags);  // sampled and debug
  EXPECT_EQ(0u, spans[0].parentSpanId);
  ASSERT_TRUE(spans[0].tag("jaeger-debug-id"));
  EXPECT_EQ("case-17", spans[0].tag("jaeger-debug-id")->value.text);
}

TEST_F(JaegerPropagation, BinaryFormRoundTripsAndRejectsTruncation) {
  auto span = tracer->StartSpan("binary");
  span->SetBaggageItem("k", "v");
  std::stringstream stream;
  ASSERT_TRUE(tracer->Inject(span->context(), stream));
  const std::string bytes = stream.str();

  std::stringstream in(bytes);
  auto extracted = tracer->Extract(in);
  ASSERT_TRUE(extracted && *extracted);
  EXPECT_EQ(span->context().ToSpanID(), (*extracted)->ToSpanID());
  EXPECT_EQ(span->context().ToTraceID(), (*extracted)->ToTraceID());

  for (size_t cut : {size_t(1), size_t(20), bytes.size() - 1}) {
    std::stringstream truncated(bytes.substr(0, cut));
    auto result = tracer->Extract(truncated);
    ASSERT_FALSE(result) << cut;
    EXPECT_EQ(opentracing::span_context_corrupted_error, result.error());
  }
}

TEST_F(JaegerPropagation, HeaderValuesDecodeEscapesUpToTheLastCharacter) {
  struct Case {
    const char* sent;
    const char* decoded;
  };
  for (const Case& c : {Case{"hello%20", "hello "}, Case{"%41", "A"}, Case{"a%3a%3A", "a::"}, Case{"a+b", "a b"},
                        Case{"a%2", "a%2"}, Case{"a%", "a%"}, Case{"%g1x", "%g1x"}}) {
    Headers headers;
    headers.carrier.values["Uber-Trace-Id"] = "ab%3Acd%3A0%3A1";
    headers.carrier.values["UberCtx-Item"] = c.sent;
    auto context = tracer->Extract(static_cast<const opentracing::HTTPHeadersReader&>(headers));
    ASSERT_TRUE(context && *context) << c.sent;
    std::string item = "(none)";
    (*context)->ForeachBaggageItem([&](const std::string& key, const std::string& value) {
      if (key == "item") item = value;
      return true;
    });
    EXPECT_EQ(c.decoded, item) << c.sent;
  }
}

// OpenTracing's convention: a new span's parent is its first child-of reference, whatever its
// place among the references; only without one is it the first follows-from.
TEST_F(JaegerPropagation, TheFirstChildOfReferenceIsTheParentWhereverItStands) {
  Carrier first, second;
  first.values["uber-trace-id"] = "a1:a2:0:0";
  second.values["uber-trace-id"] = "b1:b2:0:1";
  const auto a = extract(first);
  const auto b = extract(second);
  ASSERT_TRUE(a && b);
  using Refs = std::vector<std::pair<opentracing::SpanReferenceType, const opentracing::SpanContext*>>;
  const auto childOf = opentracing::SpanReferenceType::ChildOfRef;
  const auto followsFrom = opentracing::SpanReferenceType::FollowsFromRef;
  struct Case {
    Refs references;
    const char* trace;
    const char* parentAndFlags;
  };
  for (const Case& c : {Case{Refs{{followsFrom, a.get()}, {childOf, b.get()}}, "b1", ":b2:1"},
                        Case{Refs{{childOf, b.get()}, {followsFrom, a.get()}}, "b1", ":b2:1"},
                        Case{Refs{{followsFrom, a.get()}, {followsFrom, b.get()}}, "a1", ":a2:0"},
                        Case{Refs{{followsFrom, b.get()}, {childOf, a.get()}, {childOf, b.get()}}, "a1", ":a2:0"}}) {
    opentracing::StartSpanOptions options;
    options.references = c.references;
    auto span = tracer->StartSpanWithOptions("referring", options);
    ASSERT_TRUE(span);
    Carrier out;
    ASSERT_TRUE(tracer->Inject(span->context(), static_cast<const opentracing::TextMapWriter&>(out)));
    const std::string text = out.values.at("uber-trace-id");
    EXPECT_EQ(c.trace, text.substr(0, text.find(':'))) << text;
    EXPECT_EQ(c.parentAndFlags, text.substr(text.find(':', text.find(':') + 1))) << text;
  }
}
