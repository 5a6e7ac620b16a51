#include "jaeger/src/CompactWriter.h"

#include <cstring>
#include <stdexcept>

namespace jaegertracing {

void CompactWriter::flush() {
  if (_used == 0) return;
  _out.append(_buffer, _used);
  _used = 0;
  _flushed = true;
}

opentracing::string_view CompactWriter::bytes() {
  if (_flushed) {
    flush();
    return opentracing::string_view(_out.data(), _out.size());
  }
  const opentracing::string_view written(_buffer, _used);
  _used = 0;  // the destructor has nothing left to append
  return written;
}

void CompactWriter::raw(const char* data, size_t size) {
  if (size > sizeof _buffer - _used) {
    flush();
    if (size > sizeof _buffer) {
      _out.append(data, size);
      _flushed = true;
      return;
    }
  }
  // Keys and values are short: copied in words here, where each call of the run-time's memcpy
  // costs more than the copy.
  char* out = _buffer + _used;
  _used += size;
  for (; size >= 8; size -= 8, data += 8, out += 8) std::memcpy(out, data, 8);
  if (size >= 4) {
    std::memcpy(out, data, 4);
    size -= 4, data += 4, out += 4;
  }
  while (size-- > 0) *out++ = *data++;
}

void CompactWriter::messageBegin(const std::string& name, MessageType type, int32_t sequenceId) {
  const uint8_t protocolId = 0x82;
  const uint8_t version = 1;
  put(static_cast<char>(protocolId));
  put(static_cast<char>(version | (type << 5)));
  varint(static_cast<uint32_t>(sequenceId));
  string(name);
}

void CompactWriter::structResume(int16_t lastFieldId) {
  if (_depth + 1 >= kMaxDepth) throw std::length_error("structs nested too deep for the agent's format");
  _lastFieldIds[++_depth] = lastFieldId;
}

void CompactWriter::fieldBool(int16_t id, bool value) { fieldBegin(id, value ? kTrue : kFalse); }

void CompactWriter::listBegin(Type elementType, uint32_t size) {
  if (size < 15) {
    put(static_cast<char>((size << 4) | elementType));
  } else {
    put(static_cast<char>(0xf0 | elementType));
    varint(size);
  }
}

size_t CompactWriter::listHeaderSize(uint32_t size) {
  if (size < 15) return 1;
  size_t bytes = 2;
  for (uint32_t rest = size >> 7; rest != 0; rest >>= 7) ++bytes;
  return bytes;
}

void CompactWriter::dbl(double value) {
  // Compact protocol doubles are little-endian, as is every Windows target.
  char bytes[8];
  std::memcpy(bytes, &value, sizeof bytes);
  raw(bytes, sizeof bytes);
}

void CompactWriter::string(const std::string& value) {
  varint(value.size());
  raw(value.data(), value.size());
}

}  // namespace jaegertracing
