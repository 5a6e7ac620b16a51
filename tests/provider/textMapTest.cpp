#include "provider/textMap.h"

#include <gtest/gtest.h>

#include "diagnostics/vexception.h"
#include "provider/TextMapCarrier.h"

// A key runs to the first key-value separator, a value to the next pair separator.
TEST(TextMap, ParsesKeepingTheFirstValueOfAKeyAndItsCarrierStopsReadingAtTheFirstError) {
  const struct {
    const char* text;
    TextMap map;
  } texts[] = {{"a/1;a/2;old/new;", {{"a", "1"}, {"old", "kept"}}},
               {"x;y/z", {{"x;y", "z"}, {"old", "kept"}}},
               {"/v;a/b/c;d/", {{"", "v"}, {"a", "b/c"}, {"d", ""}, {"old", "kept"}}},
               {"no separator at all;still none", {{"old", "kept"}}}};
  for (const auto& text : texts) {
    TextMap parsedInto{{"old", "kept"}};
    parseTextMap(parsedInto, text.text, "/", ";");
    EXPECT_EQ(parsedInto, text.map) << text.text;
  }
  TextMap map{{"b", "2"}, {"a", "1"}, {"c", "3"}};
  EXPECT_THROW(parseTextMap(map, "a/1", "", ";"), ArgumentException);
  EXPECT_THROW(parseTextMap(map, "a/1", "/", ""), ArgumentException);

  // Its carrier: injection and extraction check Set and reading as such.
  const TextMapCarrier carrier(map);
  std::string visited;
  const auto stopped = carrier.ForeachKey([&](opentracing::string_view key, opentracing::string_view value) {
    visited += std::string(key) + "=" + std::string(value) + " ";
    if (key != "b") return opentracing::expected<void>();
    return opentracing::expected<void>(opentracing::make_unexpected(opentracing::key_not_found_error));
  });
  EXPECT_TRUE(stopped == opentracing::make_unexpected(opentracing::key_not_found_error));
  EXPECT_EQ(visited, "a=1 b=2 ");
  EXPECT_TRUE(carrier.LookupKey("a") == opentracing::make_unexpected(opentracing::lookup_key_not_supported_error));
}
