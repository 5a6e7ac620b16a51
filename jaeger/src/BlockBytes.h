#pragma once
// A growable run of bytes, in blocks of the thread's cache while it is small: a span's name and
// its encoded tags, which a span writes a few times and its end reads once, and the reporter's
// queue and datagrams, which are written a span at a time.

#include <cstddef>
#include <cstring>

#include <opentracing/string_view.h>

namespace jaegertracing {

// Copies a short run in words the compiler inlines: a call of the run-time's memcpy, in another
// module, costs more than copying a key or a value. Returns the end of the copy.
inline char* copyBytes(char* out, const char* data, size_t size) {
  for (; size >= 16; size -= 16, data += 16, out += 16) std::memcpy(out, data, 16);
  if (size >= 8) {
    std::memcpy(out, data, 8);
    size -= 8, data += 8, out += 8;
  }
  if (size >= 4) {
    std::memcpy(out, data, 4);
    size -= 4, data += 4, out += 4;
  }
  while (size-- > 0) *out++ = *data++;
  return out;
}

class BlockBytes {
 public:
  BlockBytes() = default;
  BlockBytes(BlockBytes&& other) noexcept;
  BlockBytes& operator=(BlockBytes&& other) noexcept;
  BlockBytes(const BlockBytes&) = delete;
  BlockBytes& operator=(const BlockBytes&) = delete;
  ~BlockBytes();

  const char* data() const { return _data; }
  char* data() { return _data; }
  size_t size() const { return _size; }
  size_t capacity() const { return _capacity; }
  bool empty() const { return _size == 0; }
  opentracing::string_view view() const { return opentracing::string_view(_data, _size); }

  // These throw std::bad_alloc and then leave the bytes as they were. The data given may not
  // lie in these bytes.
  void append(const char* data, size_t size) {
    copyBytes(room(size), data, size);
    _size += size;
  }
  void assign(const char* data, size_t size) { replace(0, _size, data, size); }
  // Keeps the capacity.
  void clear() { _size = 0; }
  void reserve(size_t capacity) {
    if (capacity > _capacity) grow(capacity);
  }
  void erase(size_t offset, size_t size) { replace(offset, size, nullptr, 0); }
  // Puts length bytes in place of the size bytes at offset.
  void replace(size_t offset, size_t size, const char* data, size_t length);

  // Room for at most size bytes after the end, to be written there and then taken in with
  // commit(end of what was written).
  char* room(size_t size) {
    if (size > _capacity - _size) grow(_size + size);
    return _data + _size;
  }
  void commit(const char* end) { _size = static_cast<size_t>(end - _data); }

 private:
  void release() noexcept;
  void grow(size_t capacity);

  char* _data = nullptr;
  size_t _size = 0;
  size_t _capacity = 0;
};

}  // namespace jaegertracing
