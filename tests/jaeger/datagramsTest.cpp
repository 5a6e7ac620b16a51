// The reporter's ring of datagrams, driven directly as the finishing threads and the sender do.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <random>

#include "jaeger/src/Datagrams.h"

using namespace jaegertracing;

namespace {

// Span n, 17 to 216 bytes: its size, n, then n's low byte over and over. A span is whole and in
// its place only if all of it matches.
uint16_t makeSpan(char (&out)[256], uint32_t n) {
  const uint16_t size = static_cast<uint16_t>(17 + n * 37 % 200);
  std::memcpy(out, &size, sizeof size);
  std::memcpy(out + 2, &n, sizeof n);
  std::memset(out + 6, static_cast<int>(n & 0xFF), size - 6);
  return size;
}

// Checks that a datagram holds whole spans numbered on from next; returns the number after its
// last span, or 0 at the first fault (spans are numbered from 1).
uint32_t readSpans(const DatagramSpans& spans, uint32_t next) {
  size_t at = 0;
  for (size_t i = 0; i < spans.count; ++i, ++next) {
    char expected[256];
    const uint16_t size = makeSpan(expected, next);
    if (at + size > spans.size || std::memcmp(spans.bytes + at, expected, size) != 0) {
      ADD_FAILURE() << "span " << next << " is torn, lost or out of order";
      return 0;
    }
    at += size;
  }
  EXPECT_EQ(at, spans.size) << "the datagram's length is not that of its spans";
  return next;
}

// Sends every waiting datagram as the sender does, checking each, and that none but the last was
// sealed while the next span would still have fitted.
uint32_t drain(Datagrams& datagrams, const BatchEncoder& encoder, uint32_t next) {
  while (datagrams.waiting() > 0 && next != 0) {
    const DatagramSpans spans = datagrams.takeOldest();
    next = readSpans(spans, next);
    EXPECT_TRUE(encoder.fits(spans.count, spans.size));
    char span[256];
    if (datagrams.waiting() > 0) {
      EXPECT_FALSE(encoder.fits(spans.count + 1, spans.size + makeSpan(span, next))) << "sealed too soon";
    }
    datagrams.releaseInFlight();
  }
  return next;
}

// Adds spans numbered from next until the ring refuses one; returns the number of the refused one.
uint32_t fill(Datagrams& datagrams, uint32_t next) {
  char span[256];
  while (datagrams.add(span, makeSpan(span, next))) ++next;
  return next;
}

struct Writer {
  Datagrams& datagrams;
  uint32_t first;
  std::atomic<uint32_t> added{0};  // spans whose add returned
};

// Adds spans from writer.first for as long as it lives, as a finishing thread does; allocates nothing.
DWORD WINAPI writeSpans(void* parameter) {
  Writer& writer = *static_cast<Writer*>(parameter);
  char span[256];
  for (uint32_t n = writer.first;;) {
    if (writer.datagrams.add(span, makeSpan(span, n))) writer.added.store(++n - writer.first);
  }
}

}  // namespace

// While the sender has a datagram in flight, the finishing threads fill the ring again; three
// rounds go round the ring more than twice, which also makes every slot's buffers. Then writers
// are killed as ExitProcess kills a finishing thread, anywhere, perhaps inside an add, and the
// exiting thread takes what each left.
TEST(Datagrams, SpansLeaveInOrderAndWholeTheRingHoldsItsBoundAndAKilledWriterLeavesItReadable) {
  const BatchEncoder encoder(Process{"ring", {}});
  Datagrams datagrams(encoder);
  uint32_t next = 1;
  for (int round = 0; round < 3; ++round) {
    const uint32_t refusedFirst = fill(datagrams, next);
    const DatagramSpans inFlight = datagrams.takeOldest();
    const uint32_t refused = fill(datagrams, refusedFirst);
    EXPECT_EQ(datagrams.waiting(), Datagrams::kMaxWaiting);
    EXPECT_TRUE(datagrams.atBound());
    EXPECT_TRUE(datagrams.seal()) << "the open datagram may join the waiting ones beyond the bound";
    EXPECT_EQ(datagrams.waiting(), Datagrams::kMaxWaiting + 1);
    next = readSpans(inFlight, next);
    datagrams.releaseInFlight();
    ASSERT_EQ(drain(datagrams, encoder, next), refused);
    next = refused;
  }

  // The slots' buffers exist now: a writer killed while making one would leave the heap's lock held.
  std::mt19937 random(25);
  for (int trial = 0; trial < 300; ++trial) {
    Writer writer{datagrams, next};
    HANDLE thread = CreateThread(nullptr, 0, writeSpans, &writer, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    // Before the writer has filled the ring (some 13,900 spans), at a point no one chooses, but
    // never while it starts: a thread killed then would leave the loader's lock held.
    const uint32_t stopAfter = 1 + random() % 12000;
    while (writer.added.load() < stopAfter) YieldProcessor();
    for (uint32_t spin = random() % 2000; spin > 0; --spin) YieldProcessor();
    TerminateThread(thread, 0);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    const uint32_t added = writer.added.load();
    EXPECT_TRUE(datagrams.sealAfterKill());
    const uint32_t taken = drain(datagrams, encoder, next);
    // The span whose add was cut short after it was taken in counts as added.
    ASSERT_TRUE(taken == next + added || taken == next + added + 1)
        << "trial " << trial << ": " << added << " spans added, " << taken - next << " taken";
    next = taken;
  }
}
