#include "jaeger/src/CompactWriter.h"

#include <cstring>

namespace jaegertracing {

namespace {

uint64_t zigzag(int64_t value) { return (static_cast<uint64_t>(value) << 1) ^ static_cast<uint64_t>(value >> 63); }

}  // namespace

void CompactWriter::varint(uint64_t value) {
  while (value >= 0x80) {
    _out.push_back(static_cast<char>((value & 0x7f) | 0x80));
    value >>= 7;
  }
  _out.push_back(static_cast<char>(value));
}

void CompactWriter::messageBegin(const std::string& name, MessageType type, int32_t sequenceId) {
  const uint8_t protocolId = 0x82;
  const uint8_t version = 1;
  _out.push_back(static_cast<char>(protocolId));
  _out.push_back(static_cast<char>(version | (type << 5)));
  varint(static_cast<uint32_t>(sequenceId));
  string(name);
}

void CompactWriter::structBegin() { _lastFieldIds.push_back(0); }

void CompactWriter::structResume(int16_t lastFieldId) { _lastFieldIds.push_back(lastFieldId); }

void CompactWriter::structEnd() {
  _out.push_back(0);
  _lastFieldIds.pop_back();
}

void CompactWriter::fieldBegin(int16_t id, Type type) {
  int16_t& last = _lastFieldIds.back();
  int delta = id - last;
  if (delta > 0 && delta <= 15) {
    _out.push_back(static_cast<char>((delta << 4) | type));
  } else {
    _out.push_back(static_cast<char>(type));
    varint(zigzag(id));
  }
  last = id;
}

void CompactWriter::fieldBool(int16_t id, bool value) { fieldBegin(id, value ? kTrue : kFalse); }

void CompactWriter::listBegin(Type elementType, uint32_t size) {
  if (size < 15) {
    _out.push_back(static_cast<char>((size << 4) | elementType));
  } else {
    _out.push_back(static_cast<char>(0xf0 | elementType));
    varint(size);
  }
}

size_t CompactWriter::listHeaderSize(uint32_t size) {
  if (size < 15) return 1;
  size_t bytes = 2;
  for (uint32_t rest = size >> 7; rest != 0; rest >>= 7) ++bytes;
  return bytes;
}

void CompactWriter::i32(int32_t value) { varint(zigzag(value)); }

void CompactWriter::i64(int64_t value) { varint(zigzag(value)); }

void CompactWriter::dbl(double value) {
  // Compact protocol doubles are little-endian, as is every Windows target.
  char bytes[8];
  std::memcpy(bytes, &value, sizeof bytes);
  _out.append(bytes, sizeof bytes);
}

void CompactWriter::string(const std::string& value) {
  varint(value.size());
  _out.append(value);
}

}  // namespace jaegertracing
