#include "provider/textMap.h"

#include "diagnostics/vexception.h"

std::string joinTextMap(const TextMap& map, const std::string& keyValueSeparator, const std::string& pairSeparator) {
  std::string text;
  bool first = true;
  for (const auto& entry : map) {
    if (!first) text += pairSeparator;
    first = false;
    text += entry.first;
    text += keyValueSeparator;
    text += entry.second;
  }
  return text;
}

void parseTextMap(TextMap& map, const std::string& text, const std::string& keyValueSeparator,
                  const std::string& pairSeparator) {
  // An empty separator would be found at the same place forever.
  if (keyValueSeparator.empty() || pairSeparator.empty())
    throw ArgumentException(L"Empty text-map separator", KESTRIN_SITE);
  size_t position = 0;
  for (;;) {
    const size_t separator = text.find(keyValueSeparator, position);
    if (separator == std::string::npos) return;
    const size_t valueStart = separator + keyValueSeparator.size();
    const size_t pairEnd = text.find(pairSeparator, valueStart);
    map.emplace(text.substr(position, separator - position),
                text.substr(valueStart, pairEnd == std::string::npos ? std::string::npos : pairEnd - valueStart));
    if (pairEnd == std::string::npos) return;
    position = pairEnd + pairSeparator.size();
  }
}
