#pragma once
// Packing finished spans into datagrams. A finishing thread appends its encoded span to the open
// datagram; a datagram that has no room for the next span is sealed and waits for a sender, who
// takes it out whole and gives its buffers back once it is out. Not locked: the reporter's lock
// guards it.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "jaeger/src/AgentEncoding.h"
#include "jaeger/src/BlockBytes.h"

namespace jaegertracing {

static_assert(kMaxDatagram <= UINT16_MAX, "a span's size is kept in 16 bits");

// Encoded spans one after another, as a batch's span list holds them.
struct EncodedSpans {
  BlockBytes bytes;
  std::vector<uint16_t> sizes;  // a span fits into one datagram, so its size into 16 bits

  size_t count() const { return sizes.size(); }
  bool empty() const { return sizes.empty(); }
};

class Datagrams {
 public:
  // Datagrams sealed and waiting for a sender, at most (about 1.5 MB): room for a burst of
  // 10,000 typical spans while no sender gets the processor.
  static constexpr size_t kMaxWaiting = 24;

  // Throws std::bad_alloc.
  explicit Datagrams(const BatchEncoder& encoder);

  // Adds an encoded span to the open datagram, sealing that first when the span does not fit.
  // False, with nothing added, when sealing would make more than kMaxWaiting datagrams wait.
  // Throws std::bad_alloc, with nothing added.
  bool add(const char* span, uint16_t size);
  // The open datagram, if it holds spans, joins the waiting ones (even beyond the bound); the
  // next is made on the first add when no sent one's buffers are at hand. Throws
  // std::bad_alloc, leaving the open datagram open.
  void seal();

  size_t waiting() const { return _sealed.size(); }
  bool atBound() const { return _sealed.size() >= kMaxWaiting; }
  size_t openSpans() const { return _open.count(); }
  std::chrono::steady_clock::time_point openSince() const { return _openSince; }

  // The oldest waiting datagram, taken out for one sender; there must be one.
  EncodedSpans takeOldest() noexcept;
  // A sent datagram's buffers, kept for later ones: allocating and faulting in 64 KB for each
  // datagram cost more than packing it.
  void recycle(EncodedSpans&& sent) noexcept;

 private:
  EncodedSpans fresh();

  const BatchEncoder& _encoder;
  EncodedSpans _open;  // reserved for a whole datagram, so appending never allocates
  std::chrono::steady_clock::time_point _openSince;
  std::deque<EncodedSpans> _sealed;
  std::vector<EncodedSpans> _spare;
};

}  // namespace jaegertracing
