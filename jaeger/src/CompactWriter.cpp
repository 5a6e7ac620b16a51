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

opentracing::string_view CompactWriter::bytesSlow() {
  flush();
  return opentracing::string_view(_out.data(), _out.size());
}

void CompactWriter::rawSlow(const char* data, size_t size) {
  flush();
  if (size > sizeof _buffer) {
    _out.append(data, size);
    _flushed = true;
    return;
  }
  copyBytes(_buffer, data, size);
  _used = size;
}

void CompactWriter::messageBegin(const std::string& name, MessageType type, int32_t sequenceId) {
  const uint8_t protocolId = 0x82;
  const uint8_t version = 1;
  put(static_cast<char>(protocolId));
  put(static_cast<char>(version | (type << 5)));
  varint(static_cast<uint32_t>(sequenceId));
  string(name);
}

void CompactWriter::tooDeep() { throw std::length_error("structs nested too deep for the agent's format"); }

void CompactWriter::listBegin(Type elementType, uint32_t size) {
  if (sizeof _buffer - _used < 6) flush();
  _used = static_cast<size_t>(putListHeader(_buffer + _used, elementType, size) - _buffer);
}

void CompactWriter::dbl(double value) {
  // Compact protocol doubles are little-endian, as is every Windows target.
  char bytes[8];
  std::memcpy(bytes, &value, sizeof bytes);
  raw(bytes, sizeof bytes);
}

}  // namespace jaegertracing
