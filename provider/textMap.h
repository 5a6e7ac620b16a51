#pragma once
// The one-line text form of a propagated span context: key/value pairs joined by separators, so
// that a tracer's text-map carrier fits into one environment variable.

#include <map>
#include <string>

using TextMap = std::map<std::string, std::string>;

// key, separator, value for each entry in the map's order, the pairs joined by pairSeparator.
std::string joinTextMap(const TextMap& map, const std::string& keyValueSeparator, const std::string& pairSeparator);

// Adds the pairs of text to map; a key already present keeps its first value. Text after the
// last key/value separator is the last value; text without one adds nothing. Empty separators
// raise ArgumentException.
void parseTextMap(TextMap& map, const std::string& text, const std::string& keyValueSeparator,
                  const std::string& pairSeparator);
