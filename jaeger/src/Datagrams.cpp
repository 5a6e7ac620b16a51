#include "jaeger/src/Datagrams.h"

#include <new>

namespace jaegertracing {

namespace {

// The fewest bytes an encoded span takes: its fixed fields, one byte of value each.
constexpr size_t kMinSpanBytes = 17;
constexpr size_t kMaxSpans = kMaxDatagram / kMinSpanBytes;

}  // namespace

bool Datagrams::add(const char* span, uint16_t size) {
  if (openSpans() > 0 && !_encoder.fits(openSpans() + 1, _openSize + size)) {
    if (atBound() || !seal()) return false;
  }
  Slot& open = slot(_tail);
  if (!open.sizes) {
    open.bytes.reset(new char[kMaxDatagram]);
    open.sizes.reset(new uint16_t[kMaxSpans]);
  }
  const uint32_t count = open.count.load(std::memory_order_relaxed);
  if (count == 0) {
    _openSize = 0;
    _openSince = std::chrono::steady_clock::now();
  }
  copyBytes(open.bytes.get() + _openSize, span, size);
  open.sizes[count] = size;
  open.count.store(count + 1, std::memory_order_release);
  _openSize += size;
  return true;
}

bool Datagrams::seal() noexcept {
  Slot& open = slot(_tail);
  if (open.count == 0) return true;
  if (_tail + 1 - _free >= kSlots) return false;
  open.size = _openSize;
  _tail.store(_tail + 1, std::memory_order_release);
  _openSize = 0;
  return true;
}

DatagramSpans Datagrams::takeOldest() noexcept {
  const Slot& oldest = slot(_send);
  DatagramSpans spans;
  spans.bytes = oldest.bytes.get();
  spans.size = oldest.size;
  spans.count = oldest.count;
  _send.store(_send + 1, std::memory_order_release);
  return spans;
}

void Datagrams::releaseInFlight() noexcept {
  if (_free == _send) return;
  slot(_free).count.store(0, std::memory_order_relaxed);
  _free.store(_free + 1, std::memory_order_release);
}

bool Datagrams::sealAfterKill() noexcept {
  Slot& open = slot(_tail);
  size_t size = 0;
  for (uint32_t i = 0, count = open.count; i < count; ++i) size += open.sizes[i];
  _openSize = size;
  return seal();
}

}  // namespace jaegertracing
