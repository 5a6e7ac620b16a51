#pragma once
// Writes the Thrift compact protocol into a byte string: varints, zigzag integers, field headers
// with deltas against the enclosing struct's last field id, and list headers.

#include <cstdint>
#include <string>
#include <vector>

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

  explicit CompactWriter(std::string& out) : _out(out) {}

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
  void string(const std::string& value);

  // Bytes a list header of this size takes.
  static size_t listHeaderSize(uint32_t size);

 private:
  void varint(uint64_t value);

  std::string& _out;
  std::vector<int16_t> _lastFieldIds{0};
};

}  // namespace jaegertracing
