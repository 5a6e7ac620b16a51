#include "jaeger/src/Tag.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>

#include "jaeger/src/CompactWriter.h"
#include "jaeger/src/Utf8Text.h"

namespace jaegertracing {

namespace {

enum class TagType : int32_t { String = 0, Double = 1, Bool = 2, Long = 3 };

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

// A value in the form a Tag struct holds it. Text that is not the caller's, such as a number
// too large for the signed type, lives in converted.
struct TagValue {
  TagType type = TagType::String;
  opentracing::string_view text;
  double number = 0;
  int64_t integer = 0;
  bool flag = false;
  std::string converted;

  void setText(std::string value) {
    converted = std::move(value);
    text = converted;
  }
};

struct ValueConverter {
  TagValue& out;
  void operator()(bool v) const {
    out.type = TagType::Bool;
    out.flag = v;
  }
  void operator()(double v) const {
    out.type = TagType::Double;
    out.number = v;
  }
  void operator()(int64_t v) const {
    out.type = TagType::Long;
    out.integer = v;
  }
  void operator()(uint64_t v) const {
    if (v > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
      out.setText(std::to_string(v));
    } else {
      (*this)(static_cast<int64_t>(v));
    }
  }
  void operator()(const std::string& v) const { out.text = v; }
  void operator()(opentracing::string_view v) const { out.text = v; }
  void operator()(const char* v) const { out.text = v ? v : "null"; }
  void operator()(std::nullptr_t) const { out.text = "null"; }
  template <typename Nested>
  void operator()(const Nested& v) const {
    std::string text;
    TextVisitor{text}(v);
    out.setText(std::move(text));
  }
};

// A Tag struct is written straight into the tags' bytes in the one layout the protocol gives
// it here: key (field 1), type (2), then the value's field: text (3), double (4), bool (5) or
// integer (6), and the stop byte. Every field header is one byte, since each field id is less
// than 16 above the one before, and a bool's value is its header.
using W = CompactWriter;
constexpr char kKeyHeader = W::shortFieldHeader(1, W::kBinary);
constexpr char kTypeHeader = W::shortFieldHeader(1, W::kI32);
constexpr char kTextHeader = W::shortFieldHeader(1, W::kBinary);
constexpr char kDoubleHeader = W::shortFieldHeader(2, W::kDouble);
constexpr char kTrueHeader = W::shortFieldHeader(3, W::kTrue);
constexpr char kFalseHeader = W::shortFieldHeader(3, W::kFalse);
constexpr char kIntegerHeader = W::shortFieldHeader(4, W::kI64);
// Headers, stop byte, two length varints and a value of at most 10 bytes.
constexpr size_t kMaxFraming = 5 + 3 * 10;

void appendTag(BlockBytes& out, const opentracing::string_view& rawKey, const TagValue& value) {
  const Utf8Text key(rawKey);
  const Utf8Text text(value.type == TagType::String ? value.text : opentracing::string_view());
  char* p = out.room(key.size() + text.size() + kMaxFraming);
  *p++ = kKeyHeader;
  p = W::putBinary(p, key.view());
  *p++ = kTypeHeader;
  p = W::putVarint(p, W::zigzag(static_cast<int32_t>(value.type)));
  switch (value.type) {
    case TagType::String:
      *p++ = kTextHeader;
      p = W::putBinary(p, text.view());
      break;
    case TagType::Double:
      // Compact protocol doubles are little-endian, as is every Windows target.
      *p++ = kDoubleHeader;
      std::memcpy(p, &value.number, sizeof value.number);
      p += sizeof value.number;
      break;
    case TagType::Bool: *p++ = value.flag ? kTrueHeader : kFalseHeader; break;
    case TagType::Long:
      *p++ = kIntegerHeader;
      p = W::putVarint(p, W::zigzag(value.integer));
      break;
  }
  *p++ = 0;
  out.commit(p);
}

void appendTag(BlockBytes& out, const opentracing::string_view& key, const opentracing::Value& value) {
  TagValue converted;
  opentracing::util::apply_visitor(ValueConverter{converted}, value);
  appendTag(out, key, converted);
}

uint64_t readVarint(const char*& p) {
  uint64_t value = 0;
  for (int shift = 0;; shift += 7) {
    const auto byte = static_cast<uint8_t>(*p++);
    value |= static_cast<uint64_t>(byte & 0x7f) << shift;
    if ((byte & 0x80) == 0) return value;
  }
}

int64_t unzigzag(uint64_t value) { return static_cast<int64_t>(value >> 1) ^ -static_cast<int64_t>(value & 1); }

// A Tag struct as appendTag lays it out.
struct TagReading {
  opentracing::string_view key;
  TagType type;
  const char* value;  // the header of the value's field
  const char* end;

  explicit TagReading(const char* p) {
    ++p;
    const auto keySize = static_cast<size_t>(readVarint(p));
    key = opentracing::string_view(p, keySize);
    p += keySize + 1;
    type = static_cast<TagType>(unzigzag(readVarint(p)));
    value = p++;
    switch (type) {
      case TagType::String: p += readVarint(p); break;
      case TagType::Double: p += sizeof(double); break;
      case TagType::Bool: break;
      case TagType::Long: readVarint(p); break;
    }
    end = p + 1;  // after the stop byte
  }

  std::string valueText() const {
    std::string out;
    const char* p = value + 1;
    switch (type) {
      case TagType::String: {
        const auto size = static_cast<size_t>(readVarint(p));
        out.assign(p, size);
        break;
      }
      case TagType::Double: {
        double number;
        std::memcpy(&number, p, sizeof number);
        TextVisitor{out}(number);
        break;
      }
      case TagType::Bool: TextVisitor{out}(*value == kTrueHeader); break;
      case TagType::Long: TextVisitor{out}(unzigzag(readVarint(p))); break;
    }
    return out;
  }
};

}  // namespace

void EncodedTags::append(const opentracing::string_view& key, const opentracing::Value& value) {
  appendTag(_bytes, key, value);
  ++_count;
}

void EncodedTags::appendText(const opentracing::string_view& key, const opentracing::string_view& text) {
  TagValue value;
  value.text = text;
  appendTag(_bytes, key, value);
  ++_count;
}

void EncodedTags::appendAll(const EncodedTags& other) {
  _bytes.append(other._bytes.data(), other._bytes.size());
  _count += other._count;
}

void EncodedTags::set(const opentracing::string_view& key, const opentracing::Value& value) {
  const Utf8Text wanted(key);  // as the tags hold their keys
  const char* p = _bytes.data();
  for (uint32_t i = 0; i < _count; ++i) {
    const TagReading tag(p);
    if (tag.key == wanted.view()) {
      // The new tag is written at the end, then moved to where the old one was, which goes.
      const size_t offset = static_cast<size_t>(p - _bytes.data());
      const size_t oldSize = static_cast<size_t>(tag.end - p);
      const size_t oldEnd = offset + oldSize;
      const size_t newBegin = _bytes.size();
      appendTag(_bytes, key, value);
      char* data = _bytes.data();
      std::rotate(data + oldEnd, data + newBegin, data + _bytes.size());
      _bytes.erase(offset, oldSize);
      return;
    }
    p = tag.end;
  }
  append(key, value);
}

void EncodedTags::forEach(
    const std::function<void(opentracing::string_view key, const std::string& value)>& visit) const {
  const char* p = _bytes.data();
  for (uint32_t i = 0; i < _count; ++i) {
    const TagReading tag(p);
    visit(tag.key, tag.valueText());
    p = tag.end;
  }
}

void EncodedLogs::append(std::chrono::system_clock::time_point timestamp, const EncodedTags& fields) {
  const int64_t micros = std::chrono::duration_cast<std::chrono::microseconds>(timestamp.time_since_epoch()).count();
  // The time, the list of fields and the stop byte.
  char* p = _bytes.room(W::kMaxI64Field + W::kMaxListFraming + fields.bytes().size() + 1);
  p = W::putI64Field(p, 1, micros);
  p = W::putStructListField(p, 1, fields.count(), fields.bytes());
  *p++ = 0;
  _bytes.commit(p);
  ++_count;
}

}  // namespace jaegertracing
