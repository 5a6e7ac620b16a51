#include "jaeger/src/Tag.h"

#include <cstdio>
#include <limits>

namespace jaegertracing {

namespace {

void appendValueText(std::string& out, const opentracing::Value& value);

struct TextVisitor {
  std::string& out;
  void operator()(bool v) const { out += v ? "true" : "false"; }
  void operator()(double v) const {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.17g", v);
    out += buffer;
  }
  void operator()(int64_t v) const { out += std::to_string(v); }
  void operator()(uint64_t v) const { out += std::to_string(v); }
  void operator()(const std::string& v) const { out += v; }
  void operator()(opentracing::string_view v) const { out.append(v.data(), v.size()); }
  void operator()(std::nullptr_t) const { out += "null"; }
  void operator()(const char* v) const { out += v ? v : "null"; }
  void operator()(const opentracing::Values& values) const {
    out += '[';
    for (size_t i = 0; i < values.size(); ++i) {
      if (i) out += ',';
      appendValueText(out, values[i]);
    }
    out += ']';
  }
  void operator()(const opentracing::Dictionary& dictionary) const {
    out += '{';
    bool first = true;
    for (const auto& item : dictionary) {
      if (!first) out += ',';
      first = false;
      out += item.first;
      out += ':';
      appendValueText(out, item.second);
    }
    out += '}';
  }
};

void appendValueText(std::string& out, const opentracing::Value& value) {
  opentracing::util::apply_visitor(TextVisitor{out}, value);
}

struct TagVisitor {
  Tag& tag;
  void operator()(bool v) const {
    tag.type = Tag::Type::Bool;
    tag.flag = v;
  }
  void operator()(double v) const {
    tag.type = Tag::Type::Double;
    tag.number = v;
  }
  void operator()(int64_t v) const {
    tag.type = Tag::Type::Long;
    tag.integer = v;
  }
  void operator()(uint64_t v) const {
    if (v > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
      tag.text = std::to_string(v);
    } else {
      tag.type = Tag::Type::Long;
      tag.integer = static_cast<int64_t>(v);
    }
  }
  template <typename T>
  void operator()(const T& v) const {
    TextVisitor{tag.text}(v);
  }
};

}  // namespace

Tag Tag::string(std::string key, std::string value) {
  Tag tag;
  tag.key = std::move(key);
  tag.text = std::move(value);
  return tag;
}

Tag Tag::boolean(std::string key, bool value) {
  Tag tag;
  tag.key = std::move(key);
  tag.type = Type::Bool;
  tag.flag = value;
  return tag;
}

Tag Tag::fromValue(opentracing::string_view key, const opentracing::Value& value) {
  Tag tag;
  tag.key.assign(key.data(), key.size());
  opentracing::util::apply_visitor(TagVisitor{tag}, value);
  return tag;
}

std::string Tag::valueText() const {
  std::string out;
  switch (type) {
    case Type::String: return text;
    case Type::Double: TextVisitor{out}(number); return out;
    case Type::Bool: TextVisitor{out}(flag); return out;
    case Type::Long: TextVisitor{out}(integer); return out;
  }
  return out;
}

void setTag(Tags& tags, opentracing::string_view key, const opentracing::Value& value) {
  // Filled in place: a span's tags are set on its hot path, where each copy of a string counts.
  for (auto& existing : tags) {
    if (existing.key.size() == key.size() && existing.key.compare(0, key.size(), key.data(), key.size()) == 0) {
      Tag replacement;
      replacement.key = existing.key;
      opentracing::util::apply_visitor(TagVisitor{replacement}, value);
      existing = std::move(replacement);
      return;
    }
  }
  tags.emplace_back();
  Tag& tag = tags.back();
  try {
    tag.key.assign(key.data(), key.size());
    opentracing::util::apply_visitor(TagVisitor{tag}, value);
  } catch (...) {
    tags.pop_back();
    throw;
  }
}

}  // namespace jaegertracing
