#include "jaeger/src/Datagrams.h"

#include <utility>

namespace jaegertracing {

namespace {

// The fewest bytes an encoded span takes: its fixed fields, one byte of value each.
constexpr size_t kMinSpanBytes = 17;
// Buffers of sent datagrams kept for the next ones.
constexpr size_t kSpareDatagrams = 4;

}  // namespace

Datagrams::Datagrams(const BatchEncoder& encoder) : _encoder(encoder), _open(fresh()) {
  _spare.reserve(kSpareDatagrams);  // so that keeping a buffer never allocates
  _spare.push_back(fresh());
}

EncodedSpans Datagrams::fresh() {
  EncodedSpans datagram;
  datagram.bytes.reserve(kMaxDatagram);
  datagram.sizes.reserve(kMaxDatagram / kMinSpanBytes);
  return datagram;
}

bool Datagrams::add(const char* span, uint16_t size) {
  if (!_open.empty() && !_encoder.fits(_open.count() + 1, _open.bytes.size() + size)) {
    if (atBound()) return false;
    seal();
  }
  if (_open.bytes.capacity() == 0) _open = fresh();
  if (_open.empty()) _openSince = std::chrono::steady_clock::now();
  // Neither grows: the buffers hold a whole datagram and the span fits into it.
  char* end = copyBytes(_open.bytes.room(size), span, size);
  _open.sizes.push_back(size);
  _open.bytes.commit(end);
  return true;
}

void Datagrams::seal() {
  if (_open.empty()) return;
  _sealed.push_back(std::move(_open));
  _open = EncodedSpans();
  if (!_spare.empty()) {
    _open = std::move(_spare.back());
    _spare.pop_back();
  }
}

EncodedSpans Datagrams::takeOldest() noexcept {
  EncodedSpans oldest = std::move(_sealed.front());
  _sealed.pop_front();
  return oldest;
}

void Datagrams::recycle(EncodedSpans&& sent) noexcept {
  if (_spare.size() >= kSpareDatagrams) return;
  sent.bytes.clear();
  sent.sizes.clear();
  _spare.push_back(std::move(sent));
}

}  // namespace jaegertracing
