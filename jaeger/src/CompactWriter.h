#pragma once
// The Thrift compact protocol, written straight into memory that has room for it: varints,
// zigzag integers, one-byte field headers (each field's id less than 16 above the one before),
// list headers and binary values. Every struct the agent receives has such a fixed layout.

#include <cstdint>

#include <opentracing/string_view.h>

#include "jaeger/src/BlockBytes.h"

namespace jaegertracing {

class CompactWriter {
 public:
  enum Type : uint8_t {
    kTrue = 1,
    kFalse = 2,
    kI32 = 5,
    kI64 = 6,
    kDouble = 7,
    kBinary = 8,
    kList = 9,
    kStruct = 12,
  };
  enum MessageType : uint8_t { kOneway = 4 };

  // Bytes a list header of this size takes.
  static size_t listHeaderSize(uint32_t size) {
    size_t bytes = 1;
    if (size >= 15) {
      for (; size >= 0x80; size >>= 7) ++bytes;
      ++bytes;
    }
    return bytes;
  }

  static uint64_t zigzag(int64_t value);
  // Writes value at out, which has room for 10 bytes; returns the end.
  static char* putVarint(char* out, uint64_t value);
  // Writes a binary value, at most kMaxBinaryFraming bytes besides its own; returns the end.
  static constexpr size_t kMaxBinaryFraming = 10;
  static char* putBinary(char* out, opentracing::string_view value);
  // Writes a list header, which takes at most 6 bytes at out; returns the end.
  static char* putListHeader(char* out, Type elementType, uint32_t size);
  // The one-byte header of a field whose id is delta (1 to 15) above the previous field's.
  static constexpr char shortFieldHeader(int delta, Type type) { return static_cast<char>((delta << 4) | type); }
  // Writes an i64 field delta above the previous one, at most kMaxI64Field bytes; returns the end.
  static constexpr size_t kMaxI64Field = 1 + 10;
  static char* putI64Field(char* out, int delta, int64_t value);
  // Writes a list field delta above the previous one holding count structs that lie encoded one
  // after another in structs: at most kMaxListFraming bytes besides them. Returns the end.
  static constexpr size_t kMaxListFraming = 1 + 6;
  static char* putStructListField(char* out, int delta, uint32_t count, opentracing::string_view structs);
};

// The calls made for every field of every span, inline.

inline uint64_t CompactWriter::zigzag(int64_t value) {
  return (static_cast<uint64_t>(value) << 1) ^ static_cast<uint64_t>(value >> 63);
}

inline char* CompactWriter::putVarint(char* out, uint64_t value) {
  while (value >= 0x80) {
    *out++ = static_cast<char>((value & 0x7f) | 0x80);
    value >>= 7;
  }
  *out++ = static_cast<char>(value);
  return out;
}

inline char* CompactWriter::putBinary(char* out, opentracing::string_view value) {
  out = putVarint(out, value.size());
  return copyBytes(out, value.data(), value.size());
}

inline char* CompactWriter::putListHeader(char* out, Type elementType, uint32_t size) {
  if (size < 15) {
    *out++ = static_cast<char>((size << 4) | elementType);
    return out;
  }
  *out++ = static_cast<char>(0xf0 | elementType);
  return putVarint(out, size);
}

inline char* CompactWriter::putI64Field(char* out, int delta, int64_t value) {
  *out++ = shortFieldHeader(delta, kI64);
  return putVarint(out, zigzag(value));
}

inline char* CompactWriter::putStructListField(char* out, int delta, uint32_t count, opentracing::string_view structs) {
  *out++ = shortFieldHeader(delta, kList);
  out = putListHeader(out, kStruct, count);
  return copyBytes(out, structs.data(), structs.size());
}

}  // namespace jaegertracing
