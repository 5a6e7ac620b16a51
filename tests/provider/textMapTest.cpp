#include "provider/textMap.h"

#include <gtest/gtest.h>

#include <vector>

#include "diagnostics/vexception.h"
#include "provider/TextMapCarrier.h"

namespace {

TextMap parsed(const std::string& text) {
  TextMap map;
  parseTextMap(map, text, "/", ";");
  return map;
}

}  // namespace

TEST(TextMap, JoinsPairsInMapOrderWithoutTrailingSeparator) {
  EXPECT_EQ(joinTextMap({}, "/", ";"), "");
  EXPECT_EQ(joinTextMap({{"a", "1"}}, "/", ";"), "a/1");
  EXPECT_EQ(joinTextMap({{"b", "2"}, {"a", "1"}}, "/", ";"), "a/1;b/2");
  EXPECT_EQ(joinTextMap({{"", ""}, {"k", ""}}, "/", ";"), "/;k/");
  EXPECT_EQ(joinTextMap({{"a", "1"}, {"b", "2"}}, "=", "&&"), "a=1&&b=2");
}

TEST(TextMap, ParsesPairsAndKeepsTheFirstValueOfAKey) {
  EXPECT_EQ(parsed("a/1;b/2"), (TextMap{{"a", "1"}, {"b", "2"}}));
  EXPECT_EQ(parsed("a/1;a/2"), (TextMap{{"a", "1"}}));
  EXPECT_EQ(parsed("a/1;"), (TextMap{{"a", "1"}}));
  EXPECT_EQ(parsed("x;y/z"), (TextMap{{"x;y", "z"}}));
  EXPECT_EQ(parsed("/v"), (TextMap{{"", "v"}}));
  EXPECT_EQ(parsed("a/b/c;d/"), (TextMap{{"a", "b/c"}, {"d", ""}}));
  EXPECT_TRUE(parsed("no separator at all;still none").empty());
  EXPECT_TRUE(parsed("").empty());

  TextMap existing{{"a", "old"}};
  parseTextMap(existing, "a/new;b/2", "/", ";");
  EXPECT_EQ(existing, (TextMap{{"a", "old"}, {"b", "2"}}));
}

TEST(TextMap, JoinedTextParsesBackAndEmptySeparatorsAreRefused) {
  const TextMap map{{"uber-trace-id", "1f:2e:0:1"}, {"uberctx-user", "someone"}};
  EXPECT_EQ(parsed(joinTextMap(map, "/", ";")), map);
  TextMap out;
  EXPECT_THROW(parseTextMap(out, "a/1", "", ";"), ArgumentException);
  EXPECT_THROW(parseTextMap(out, "a/1", "/", ""), ArgumentException);
}

TEST(TextMapCarrier, WritesReadsInOrderAndStopsAtTheFirstError) {
  TextMap map;
  const TextMapCarrier carrier(map);
  const opentracing::TextMapWriter& writer = carrier;
  const opentracing::TextMapReader& reader = carrier;
  EXPECT_TRUE(writer.Set("b", "2"));
  EXPECT_TRUE(writer.Set("a", "old"));
  EXPECT_TRUE(writer.Set("a", "1"));
  EXPECT_TRUE(writer.Set("c", "3"));
  EXPECT_EQ(map, (TextMap{{"a", "1"}, {"b", "2"}, {"c", "3"}}));

  const auto lookup = reader.LookupKey("a");
  ASSERT_FALSE(lookup);
  EXPECT_EQ(lookup.error(), opentracing::lookup_key_not_supported_error);

  std::vector<std::string> visited;
  EXPECT_TRUE(reader.ForeachKey([&](opentracing::string_view key, opentracing::string_view value) {
    visited.push_back(std::string(key) + "=" + std::string(value));
    return opentracing::expected<void>();
  }));
  EXPECT_EQ(visited, (std::vector<std::string>{"a=1", "b=2", "c=3"}));

  visited.clear();
  const auto stopped = reader.ForeachKey([&](opentracing::string_view key, opentracing::string_view) {
    visited.push_back(std::string(key));
    if (key == "b") return opentracing::expected<void>(opentracing::make_unexpected(opentracing::key_not_found_error));
    return opentracing::expected<void>();
  });
  ASSERT_FALSE(stopped);
  EXPECT_EQ(stopped.error(), opentracing::key_not_found_error);
  EXPECT_EQ(visited, (std::vector<std::string>{"a", "b"}));
}
