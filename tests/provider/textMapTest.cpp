#include "provider/textMap.h"

#include <gtest/gtest.h>

#include <vector>

#include "diagnostics/vexception.h"
#include "provider/TextMapCarrier.h"

TEST(TextMap, JoinsInMapOrderAndParsesBackKeepingTheFirstValueOfAKey) {
  EXPECT_EQ(joinTextMap({}, "/", ";"), "");
  EXPECT_EQ(joinTextMap({{"b", "2"}, {"", ""}, {"a", "1"}}, "=", "&&"), "=&&a=1&&b=2");
  const TextMap map{{"uber-trace-id", "1f:2e:0:1"}, {"uberctx-user", "someone"}};
  TextMap parsed;
  parseTextMap(parsed, joinTextMap(map, "/", ";"), "/", ";");
  EXPECT_EQ(parsed, map);

  // A key runs to the first key-value separator, a value to the next pair separator.
  const struct {
    const char* text;
    TextMap map;
  } texts[] = {{"a/1;a/2;old/new;", {{"a", "1"}}},
               {"x;y/z", {{"x;y", "z"}}},
               {"/v;a/b/c;d/", {{"", "v"}, {"a", "b/c"}, {"d", ""}}},
               {"no separator at all;still none", {}}};
  for (const auto& text : texts) {
    TextMap parsedInto{{"old", "kept"}};
    parseTextMap(parsedInto, text.text, "/", ";");
    TextMap expected = text.map;
    expected.emplace("old", "kept");
    EXPECT_EQ(parsedInto, expected) << text.text;
  }
  EXPECT_THROW(parseTextMap(parsed, "a/1", "", ";"), ArgumentException);
  EXPECT_THROW(parseTextMap(parsed, "a/1", "/", ""), ArgumentException);
}

TEST(TextMapCarrier, WritesReadsInOrderAndStopsAtTheFirstError) {
  TextMap map;
  const TextMapCarrier carrier(map);
  const opentracing::TextMapWriter& writer = carrier;
  const opentracing::TextMapReader& reader = carrier;
  for (const char* key : {"b", "a", "c"}) EXPECT_TRUE(writer.Set(key, "old"));
  EXPECT_TRUE(writer.Set("a", "1"));
  EXPECT_EQ(map, (TextMap{{"a", "1"}, {"b", "old"}, {"c", "old"}}));
  EXPECT_TRUE(reader.LookupKey("a") == opentracing::make_unexpected(opentracing::lookup_key_not_supported_error));

  std::vector<std::string> visited;
  const auto stopped = reader.ForeachKey([&](opentracing::string_view key, opentracing::string_view value) {
    visited.push_back(std::string(key) + "=" + std::string(value));
    if (key == "b") return opentracing::expected<void>(opentracing::make_unexpected(opentracing::key_not_found_error));
    return opentracing::expected<void>();
  });
  EXPECT_TRUE(stopped == opentracing::make_unexpected(opentracing::key_not_found_error));
  EXPECT_EQ(visited, (std::vector<std::string>{"a=1", "b=old"}));
}
