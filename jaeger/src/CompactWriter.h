#pragma once
// Writes the Thrift compact protocol into a byte string: varints, zigzag integers, field headers
// with deltas against the enclosing struct's last field id, and list headers.

#include <cstdint>
#include <string>

#include <opentracing/string_view.h>

#include "jaeger/src/BlockBytes.h"

namespace jaegertracing {

class CompactWriter {
 public:
  enum Type : uint8_t {
    kTrue = 1,
    kFalse = 2,
    kByte = 3,
    kI16 = 4,
    kI32 = 5,
    kI64 = 6,
    kDouble = 7,
    kBinary = 8,
    kList = 9,
    kStruct = 12,
  };
  enum MessageType : uint8_t { kCall = 1, kOneway = 4 };

  // Appends to out, which may already hold other bytes. What is written reaches out in pieces
  // and completely when the writer is destroyed or flushed.
  explicit CompactWriter(std::string& out) : _out(out) {}
  ~CompactWriter() { flush(); }
  CompactWriter(const CompactWriter&) = delete;
  CompactWriter& operator=(const CompactWriter&) = delete;

  void flush();
  // Everything written, in one piece: the writer's own buffer when it all fitted there, out
  // otherwise (then out must have started empty). Valid while the writer and out live;
  // nothing may be written after it.
  opentracing::string_view bytes();

  void messageBegin(const std::string& name, MessageType type, int32_t sequenceId);
  void structBegin();
  void structEnd();  // writes the stop byte
  // Continues a struct whose beginning, up to the given field, was written by another writer.
  void structResume(int16_t lastFieldId);
  void fieldBegin(int16_t id, Type type);
  void fieldBool(int16_t id, bool value);
  void listBegin(Type elementType, uint32_t size);
  void i32(int32_t value);
  void i64(int64_t value);
  void dbl(double value);
  void string(opentracing::string_view value);
  // Bytes already in the protocol's form, such as encoded structs.
  void raw(const char* data, size_t size);

  // Bytes a list header of this size takes.
  static size_t listHeaderSize(uint32_t size) {
    size_t bytes = 1;
    if (size >= 15) {
      for (; size >= 0x80; size >>= 7) ++bytes;
      ++bytes;
    }
    return bytes;
  }

  // For structs of a fixed layout written straight into memory of their own.
  static uint64_t zigzag(int64_t value);
  // Writes value at out, which has room for 10 bytes; returns the end.
  static char* putVarint(char* out, uint64_t value);
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

 private:
  void varint(uint64_t value);
  void rawSlow(const char* data, size_t size);
  opentracing::string_view bytesSlow();
  [[noreturn]] static void tooDeep();
  void put(char byte) {
    if (_used == sizeof _buffer) flush();
    _buffer[_used++] = byte;
  }

  // The agent's structs nest four deep at most; a fixed stack keeps encoding free of allocation.
  static constexpr int kMaxDepth = 8;

  std::string& _out;
  // Bytes are gathered here and appended in blocks: a span is encoded byte by byte on the
  // thread that finishes it.
  char _buffer[512];
  size_t _used = 0;
  bool _flushed = false;  // some bytes went to out already
  int16_t _lastFieldIds[kMaxDepth] = {};
  int _depth = 0;  // index of the innermost struct's entry
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

inline void CompactWriter::varint(uint64_t value) {
  if (sizeof _buffer - _used < 10) flush();  // room for the longest varint, checked once
  _used = static_cast<size_t>(putVarint(_buffer + _used, value) - _buffer);
}

inline void CompactWriter::raw(const char* data, size_t size) {
  if (size > sizeof _buffer - _used) return rawSlow(data, size);
  _used = static_cast<size_t>(copyBytes(_buffer + _used, data, size) - _buffer);
}

inline void CompactWriter::string(opentracing::string_view value) {
  varint(value.size());
  raw(value.data(), value.size());
}

inline opentracing::string_view CompactWriter::bytes() {
  if (_flushed) return bytesSlow();
  const opentracing::string_view written(_buffer, _used);
  _used = 0;  // the destructor has nothing left to append
  return written;
}

inline void CompactWriter::structResume(int16_t lastFieldId) {
  if (_depth + 1 >= kMaxDepth) tooDeep();
  _lastFieldIds[++_depth] = lastFieldId;
}

inline void CompactWriter::structBegin() { structResume(0); }

inline void CompactWriter::structEnd() {
  put(0);
  if (_depth > 0) --_depth;
}

inline void CompactWriter::fieldBegin(int16_t id, Type type) {
  int16_t& last = _lastFieldIds[_depth];
  int delta = id - last;
  if (delta > 0 && delta <= 15) {
    put(shortFieldHeader(delta, type));
  } else {
    put(static_cast<char>(type));
    varint(zigzag(id));
  }
  last = id;
}

inline void CompactWriter::fieldBool(int16_t id, bool value) { fieldBegin(id, value ? kTrue : kFalse); }

inline void CompactWriter::i32(int32_t value) { varint(zigzag(value)); }

inline void CompactWriter::i64(int64_t value) { varint(zigzag(value)); }

}  // namespace jaegertracing
