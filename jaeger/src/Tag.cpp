#include "jaeger/src/Tag.h"

#include <cstdio>
#include <limits>

#include "jaeger/src/CompactWriter.h"

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

// Writes the fields of a Tag struct after its key: the type, then the one field it uses.
struct ValueWriter {
  CompactWriter& w;
  void type(TagType type) const {
    w.fieldBegin(2, CompactWriter::kI32);
    w.i32(static_cast<int32_t>(type));
  }
  void text(opentracing::string_view v) const {
    type(TagType::String);
    w.fieldBegin(3, CompactWriter::kBinary);
    w.string(v);
  }
  void operator()(bool v) const {
    type(TagType::Bool);
    w.fieldBool(5, v);
  }
  void operator()(double v) const {
    type(TagType::Double);
    w.fieldBegin(4, CompactWriter::kDouble);
    w.dbl(v);
  }
  void operator()(int64_t v) const {
    type(TagType::Long);
    w.fieldBegin(6, CompactWriter::kI64);
    w.i64(v);
  }
  void operator()(uint64_t v) const {
    if (v > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
      text(std::to_string(v));
    } else {
      (*this)(static_cast<int64_t>(v));
    }
  }
  void operator()(const std::string& v) const { text(v); }
  void operator()(opentracing::string_view v) const { text(v); }
  void operator()(const char* v) const { text(v ? v : "null"); }
  void operator()(std::nullptr_t) const { text("null"); }
  template <typename Nested>
  void operator()(const Nested& v) const {
    std::string out;
    TextVisitor{out}(v);
    text(out);
  }
};

// One Tag struct, encoded in the writer's own buffer unless it is too long for that.
class TagEncoding {
 public:
  template <typename WriteValue>
  TagEncoding(opentracing::string_view key, WriteValue writeValue) : _writer(_large) {
    _writer.structBegin();
    _writer.fieldBegin(1, CompactWriter::kBinary);
    _writer.string(key);
    writeValue(ValueWriter{_writer});
    _writer.structEnd();
    _bytes = _writer.bytes();
  }
  opentracing::string_view bytes() const { return _bytes; }

 private:
  std::string _large;
  CompactWriter _writer;
  opentracing::string_view _bytes;
};

TagEncoding encodeValue(opentracing::string_view key, const opentracing::Value& value) {
  return TagEncoding(key, [&](const ValueWriter& writer) { opentracing::util::apply_visitor(writer, value); });
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

// A Tag struct as TagEncoding lays it out: each field header is one byte, as the field ids
// grow by less than 16, and a bool's value is its header.
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
      case TagType::Bool: TextVisitor{out}((*value & 0x0f) == CompactWriter::kTrue); break;
      case TagType::Long: TextVisitor{out}(unzigzag(readVarint(p))); break;
    }
    return out;
  }
};

}  // namespace

void EncodedTags::append(opentracing::string_view key, const opentracing::Value& value) {
  const TagEncoding tag = encodeValue(key, value);
  _bytes.append(tag.bytes().data(), tag.bytes().size());
  ++_count;
}

void EncodedTags::appendText(opentracing::string_view key, opentracing::string_view text) {
  const TagEncoding tag(key, [&](const ValueWriter& writer) { writer.text(text); });
  _bytes.append(tag.bytes().data(), tag.bytes().size());
  ++_count;
}

void EncodedTags::appendAll(const EncodedTags& other) {
  _bytes.append(other._bytes.data(), other._bytes.size());
  _count += other._count;
}

void EncodedTags::set(opentracing::string_view key, const opentracing::Value& value) {
  const char* p = _bytes.data();
  for (uint32_t i = 0; i < _count; ++i) {
    const TagReading tag(p);
    if (tag.key == key) {
      const TagEncoding replacement = encodeValue(key, value);
      _bytes.replace(static_cast<size_t>(p - _bytes.data()), static_cast<size_t>(tag.end - p),
                     replacement.bytes().data(), replacement.bytes().size());
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

}  // namespace jaegertracing
