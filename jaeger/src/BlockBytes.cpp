#include "jaeger/src/BlockBytes.h"

#include <new>
#include <utility>

#include "jaeger/src/BlockCache.h"

namespace jaegertracing {

BlockBytes::BlockBytes(BlockBytes&& other) noexcept
    : _data(std::exchange(other._data, nullptr)),
      _size(std::exchange(other._size, 0)),
      _capacity(std::exchange(other._capacity, 0)) {}

BlockBytes& BlockBytes::operator=(BlockBytes&& other) noexcept {
  if (this != &other) {
    release();
    std::swap(_data, other._data);
    std::swap(_size, other._size);
    std::swap(_capacity, other._capacity);
  }
  return *this;
}

BlockBytes::~BlockBytes() { release(); }

void BlockBytes::release() noexcept {
  freeBlock(_data, _capacity);
  _data = nullptr;
  _size = _capacity = 0;
}

void BlockBytes::grow(size_t size) {
  size_t capacity = kBlockSize;
  while (capacity < size) {
    if (capacity > static_cast<size_t>(-1) / 2) throw std::bad_alloc();
    capacity *= 2;
  }
  char* grown = static_cast<char*>(allocateBlock(capacity));
  if (_size != 0) std::memcpy(grown, _data, _size);
  freeBlock(_data, _capacity);
  _data = grown;
  _capacity = capacity;
}

void BlockBytes::replace(size_t offset, size_t size, const char* data, size_t length) {
  const size_t tail = _size - offset - size;
  if (length > size && length - size > _capacity - _size) grow(_size - size + length);
  if (length != size && tail != 0) std::memmove(_data + offset + length, _data + offset + size, tail);
  copyBytes(_data + offset, data, length);
  _size = _size - size + length;
}

}  // namespace jaegertracing
