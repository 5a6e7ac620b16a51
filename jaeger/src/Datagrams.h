#pragma once
// Packing finished spans into datagrams. A finishing thread appends its encoded span to the open
// datagram; a datagram that has no room for the next span is sealed and waits for the sender,
// who takes the oldest, sends it from where it lies and then frees its slot.
//
// The datagrams are a ring of slots whose buffers are made once and never move. Every change is
// a series of single stores, each of which leaves the ring readable: a span's bytes before its
// size, its size before the count that takes it in, a sealed slot's length before the index
// that seals it. So a thread killed at any point (by ExitProcess) leaves whole datagrams and
// whole spans behind, and the flush at exit reads them even when the killed thread held the
// reporter's lock. Otherwise the reporter's lock guards every call.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "jaeger/src/AgentEncoding.h"

namespace jaegertracing {

static_assert(kMaxDatagram <= UINT16_MAX, "a span's size is kept in 16 bits");

// A sealed datagram's spans, lying one after another as a batch's span list holds them.
struct DatagramSpans {
  const char* bytes = nullptr;
  size_t size = 0;
  size_t count = 0;
};

class Datagrams {
 public:
  // Datagrams sealed and waiting for the sender, at most, besides the open one and the one in
  // flight (about 1.7 MB in all, taken as needed and then kept): room for a burst of 10,000
  // typical spans while no sender gets the processor.
  static constexpr size_t kMaxWaiting = 24;

  explicit Datagrams(const BatchEncoder& encoder) : _encoder(encoder) {}
  Datagrams(const Datagrams&) = delete;
  Datagrams& operator=(const Datagrams&) = delete;

  // Adds an encoded span to the open datagram, sealing that first when the span does not fit.
  // False, with nothing added, when kMaxWaiting datagrams wait already. Throws std::bad_alloc
  // (a slot's first use), with nothing added.
  bool add(const char* span, uint16_t size);
  // The open datagram, if it holds spans, joins the waiting ones, even one beyond the bound.
  // False when no slot is free for the next open one.
  bool seal() noexcept;

  size_t waiting() const { return _tail - _send; }
  bool atBound() const { return waiting() >= kMaxWaiting; }
  size_t openSpans() const { return slot(_tail).count; }
  std::chrono::steady_clock::time_point openSince() const { return _openSince; }

  // The oldest waiting datagram, now in flight: it is never handed out again. One sender at a
  // time; there must be one waiting.
  DatagramSpans takeOldest() noexcept;
  // The datagram in flight has left (or failed): its slot may be filled again.
  void releaseInFlight() noexcept;

  // At process exit, its other threads gone, perhaps killed in the middle of a change: takes
  // the open datagram's spans as their sizes have them and seals it. The datagram a killed
  // sender had in flight stays taken.
  bool sealAfterKill() noexcept;

 private:
  // Slots for the waiting datagrams, one beyond the bound, the open one and the one in flight.
  static constexpr uint32_t kSlots = kMaxWaiting + 3;

  struct Slot {
    std::unique_ptr<char[]> bytes;      // kMaxDatagram bytes, made on first use
    std::unique_ptr<uint16_t[]> sizes;  // one a span
    std::atomic<uint32_t> count{0};     // spans whose bytes and size are written
    size_t size = 0;                    // bytes, written before the slot is sealed
  };

  Slot& slot(uint32_t index) { return _slots[index % kSlots]; }
  const Slot& slot(uint32_t index) const { return _slots[index % kSlots]; }

  const BatchEncoder& _encoder;
  Slot _slots[kSlots];
  // Counted up for ever, a slot being the count modulo kSlots: [_free, _send) is in flight,
  // [_send, _tail) waits, _tail is the open one.
  std::atomic<uint32_t> _free{0}, _send{0}, _tail{0};
  size_t _openSize = 0;  // bytes of the open datagram
  std::chrono::steady_clock::time_point _openSince;
};

}  // namespace jaegertracing
