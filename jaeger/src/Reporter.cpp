#include "jaeger/src/Reporter.h"

#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "jaeger/src/SpinLock.h"

namespace jaegertracing {

namespace {

// How long close waits for the background thread before sending itself, and how long a thread
// waits at process exit for a lock that a thread killed by ExitProcess may have held.
constexpr std::chrono::milliseconds kWorkerAnswerTimeout(2000);
constexpr std::chrono::milliseconds kLockTimeout(500);
// A partly filled datagram goes out once no span has come for this long.
constexpr std::chrono::milliseconds kQuietPause(1);
// The fewest bytes an encoded span takes: its fixed fields, one byte of value each.
constexpr size_t kMinSpanBytes = 17;
// Stack room for encoding a finishing span; larger ones are encoded on the heap.
constexpr size_t kTypicalSpanRoom = 512;
// Buffers of sent datagrams kept for the next ones.
constexpr size_t kSpareDatagrams = 2;

// True once ExitProcess has ended the other threads and the libraries are being detached.
bool processEnding() noexcept {
  using Query = BOOLEAN(NTAPI*)();
  static const Query query = reinterpret_cast<Query>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlDllShutdownInProgress")));
  return query != nullptr && query() != 0;
}

template <typename Lock>
bool lockWithin(Lock& lock, std::chrono::milliseconds timeout) noexcept {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!lock.try_lock()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    Sleep(1);
  }
  return true;
}

// Takes a lock at once when it is free; waits for it without bound while the process runs and
// within kLockTimeout once it is ending, when a killed thread may have kept it. Every taking of
// a lock that the flush at exit can reach goes through here or lockWithin.
bool lockUnlessEnding(SpinLock& lock) noexcept {
  if (lock.try_lock()) return true;
  if (processEnding()) return lockWithin(lock, kLockTimeout);
  lock.lock();
  return true;
}

void logSpan(const SpanRecord& span) {
  std::string line = "jaegertracing: span " + toHex(span.traceId) + ":" + toHex(span.spanId) + ":" +
                     toHex(span.parentId) + ":" + toHex(span.flags) + " \"" +
                     std::string(span.operationName.data(), span.operationName.size()) +
                     "\" start " + std::to_string(span.startMicros) + " us, duration " +
                     std::to_string(span.durationMicros) + " us";
  span.tags.forEach([&](opentracing::string_view key, const std::string& value) {
    line.append(", ").append(key.data(), key.size()).append("=").append(value);
  });
  line += "\n";
  std::fputs(line.c_str(), stderr);
  std::fflush(stderr);
}

// Encoded spans one after another, as a batch's span list holds them.
static_assert(kMaxDatagram <= UINT16_MAX, "a span's size is kept in 16 bits");
struct EncodedSpans {
  BlockBytes bytes;
  std::vector<uint16_t> sizes;  // a span fits into one datagram, so its size into 16 bits

  size_t count() const { return sizes.size(); }
  bool empty() const { return sizes.empty(); }
  void clear() {
    bytes.clear();
    sizes.clear();
  }
  // Throws std::bad_alloc and then leaves the spans as they were. The span's bytes are in
  // place before it is counted, so a thread killed in between leaves whole spans behind.
  void append(const char* span, uint16_t size) {
    char* end = copyBytes(bytes.room(size), span, size);
    sizes.push_back(size);
    bytes.commit(end);
  }
};

}  // namespace

struct Reporter::State {
  State(const Process& process, std::unique_ptr<UdpSender> sender, const Options& options)
      : options(options), encoder(process), sender(std::move(sender)) {
    spare.reserve(kSpareDatagrams);  // so that keeping a buffer never allocates
    open = freshDatagram();
    // The first sealing takes this one rather than allocating on the background thread, which
    // ExitProcess may kill holding the heap's lock while the rest of the exit needs it.
    spare.push_back(freshDatagram());
  }

  // Packs spans into datagrams; a datagram is sealed when the next span would not fit. The
  // caller holds packLock. Progress is kept in packing and packingDone for the flush at exit.
  void pack(EncodedSpans& spans) {
    packing = &spans;
    packingDone = 0;
    const char* span = spans.bytes.data();
    for (uint16_t size : spans.sizes) {
      if (!open.empty() && !encoder.fits(open.count() + 1, open.bytes.size() + size)) seal();
      if (open.empty()) openSince = std::chrono::steady_clock::now();
      open.append(span, size);
      span += size;
      ++packingDone;
    }
    spans.clear();
    packing = nullptr;
  }

  // An empty datagram whose buffers never move while it fills, so that a thread killed while
  // filling it leaves whole spans behind.
  static EncodedSpans freshDatagram() {
    EncodedSpans datagram;
    datagram.bytes.reserve(kMaxDatagram);
    datagram.sizes.reserve(kMaxDatagram / kMinSpanBytes);
    return datagram;
  }

  // The caller holds packLock.
  void seal() {
    if (open.empty()) return;
    sealed.push_back(std::move(open));
    // A datagram's buffers are used again: allocating and faulting in 64 KB for each one
    // cost more than packing it.
    if (spare.empty()) {
      open = freshDatagram();
    } else {
      open = std::move(spare.back());
      spare.pop_back();
    }
  }

  // Sends one datagram of count encoded spans. The caller holds sendLock.
  void send(const char* spans, size_t spanBytes, size_t count) noexcept {
    char listHeader[BatchEncoder::kMaxListHeader];
    const auto pieces = encoder.datagram(listHeader, spans, spanBytes, count);
    if (sender->send(pieces.data(), pieces.size())) {
      reported += count;
      ++datagrams;
      bytesSent += encoder.datagramSize(count, spanBytes);
    } else {
      droppedSendFailed += count;
      ++sendFailures;
    }
  }

  // True when the sizes of spans fit their bytes. A thread killed while moving spans leaves
  // them half moved, with no bytes or another's sizes, which must not be read.
  static bool intact(const EncodedSpans& spans) noexcept {
    const size_t count = spans.sizes.size();
    if (spans.bytes.data() == nullptr || spans.sizes.data() == nullptr || count > spans.sizes.capacity() ||
        count > spans.bytes.capacity() / kMinSpanBytes) {
      return false;
    }
    size_t total = 0;
    for (uint16_t size : spans.sizes) total += size;
    return total <= spans.bytes.capacity();
  }

  // Sends the spans from index first on in datagrams of their own, leaving the packed ones
  // alone. The caller holds sendLock.
  void sendApart(const EncodedSpans& spans, size_t first) noexcept {
    if (!intact(spans)) return;
    const char* start = spans.bytes.data();
    for (size_t i = 0; i < first && i < spans.count(); ++i) start += spans.sizes[i];
    size_t bytes = 0;
    for (size_t i = first; i < spans.count(); ++i) {
      if (i > first && !encoder.fits(i - first + 1, bytes + spans.sizes[i])) {
        send(start, bytes, i - first);
        start += bytes;
        first = i;
        bytes = 0;
      }
      bytes += spans.sizes[i];
    }
    if (spans.count() > first) send(start, bytes, spans.count() - first);
  }

  // At exit, when a thread killed while packing kept packLock: sends, without touching the
  // datagrams, the spans it had packed into the open one, those it had not reached, and
  // queued, of which the first queuedDone were packed already. The caller holds sendLock.
  void rescueAtExit(const EncodedSpans& queued, size_t queuedDone) noexcept {
    sendApart(open, 0);
    sendApart(taken, packing == &taken ? packingDone : 0);
    sendApart(queued, queuedDone);
  }

  // Sends the sealed datagrams in order. A datagram leaves `sealed` only once it is out, so
  // what a thread killed at process exit was sending is still there for the flush at exit.
  // Producers only append to the deque, which keeps the front in place. The caller holds
  // sendLock.
  void sendSealed() noexcept {
    for (;;) {
      const EncodedSpans* front;
      {
        // At exit the background thread may have been killed while packing.
        if (!lockUnlessEnding(packLock)) return;
        std::lock_guard<SpinLock> guard(packLock, std::adopt_lock);
        if (sealed.empty()) return;
        front = &sealed.front();
      }
      send(front->bytes.data(), front->bytes.size(), front->count());
      if (!lockUnlessEnding(packLock)) return;
      std::lock_guard<SpinLock> guard(packLock, std::adopt_lock);
      if (spare.size() < kSpareDatagrams) {
        spare.push_back(std::move(sealed.front()));
        spare.back().clear();
      }
      sealed.pop_front();
    }
  }

  // A producer that finds the queue full while the background thread is sending packs the
  // queue itself, unless the datagrams waiting for the network are at their bound. The caller
  // holds lock.
  bool makeRoom() {
    if (!lockUnlessEnding(packLock)) return false;
    std::lock_guard<SpinLock> guard(packLock, std::adopt_lock);
    if (sealed.size() >= kMaxWaitingDatagrams) return false;
    pack(queue);
    return true;
  }

  // Takes what is queued and sends it from the calling thread. At process exit the other
  // senders are dead, perhaps killed holding a lock: after a bounded wait for it, the flush at
  // exit goes on without it.
  void drainHere(bool atExit) noexcept {
    const bool haveSendLock = lockWithin(sendLock, kLockTimeout);
    if (!haveSendLock && !atExit) return;
    try {
      EncodedSpans queued;
      size_t queuedDone = 0;
      if (lockWithin(lock, kLockTimeout)) {
        closing = true;
        // Only read at exit, when no other thread is left to be packing.
        if (atExit && packing == &queue) queuedDone = packingDone;
        std::swap(queued, queue);
        lock.unlock();
      }
      if (lockWithin(packLock, kLockTimeout)) {
        pack(taken);
        pack(queued);
        seal();
        packLock.unlock();
        sendSealed();
      } else if (atExit) {
        rescueAtExit(queued, queuedDone);
      }
    } catch (...) {
    }
    if (haveSendLock) sendLock.unlock();
  }

  // True when nothing waits to be sent; otherwise asks the background thread to send it now.
  bool nothingLeft() noexcept {
    bool empty = false;
    if (lockWithin(lock, kLockTimeout)) {
      empty = queue.empty();
      if (!empty) flushRequested = true;
      lock.unlock();
    }
    if (empty && lockWithin(packLock, kLockTimeout)) {
      empty = sealed.empty() && open.empty();
      packLock.unlock();
    }
    return empty;
  }

  // True once everything queued so far has been sent (or dropped), waiting at most the timeout.
  bool waitUntilSent(std::chrono::milliseconds timeout) noexcept {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    if (!lockWithin(lock, kLockTimeout)) return false;
    flushRequested = true;
    lock.unlock();
    wake.notify_all();
    while (!nothingLeft()) {
      if (std::chrono::steady_clock::now() >= deadline) return false;
      wake.notify_all();
      Sleep(2);
    }
    return true;
  }

  static void run(std::shared_ptr<State> state) noexcept { state->work(); }

  void work() noexcept {
    for (;;) {
      bool stop, flushNow, quiet = false;
      {
        std::unique_lock<SpinLock> guard(lock);
        for (;;) {
          const Packed packedNow = packed();
          if (closing || flushRequested || !queue.empty() || packedNow == Packed::Full) break;
          if (packedNow == Packed::Partial) {
            // A datagram is partly filled: wait a moment for more before sending it.
            state = Waiting::Pausing;
            wake.wait_for(guard, kQuietPause);
            quiet = queue.empty();
            break;
          }
          state = Waiting::Sleeping;
          wake.wait(guard);
        }
        state = Waiting::Busy;
        stop = closing;
        flushNow = closing || flushRequested;
        flushRequested = false;
        std::lock_guard<SpinLock> packGuard(packLock);
        std::swap(taken, queue);
      }
      std::lock_guard<std::mutex> sending(sendLock);
      {
        std::lock_guard<SpinLock> packGuard(packLock);
        try {
          pack(taken);
          if (flushNow || quiet || std::chrono::steady_clock::now() - openSince >= options.flushInterval) seal();
        } catch (...) {
          // Out of memory while packing: what was taken is lost, and the reporter carries on.
          droppedQueueFull += taken.count();
          taken.clear();
        }
      }
      sendSealed();
      if (stop) break;
    }
    {
      std::lock_guard<SpinLock> guard(lock);
      workerStopped = true;
    }
    stopped.notify_all();
  }

  // What waits in datagrams: read by the background thread while it holds lock, so a producer
  // packing at that moment can make the answer stale by one round.
  enum class Packed { Nothing, Partial, Full };
  Packed packed() {
    std::lock_guard<SpinLock> guard(packLock);
    return !sealed.empty() ? Packed::Full : !open.empty() ? Packed::Partial : Packed::Nothing;
  }

  const Options options;
  const BatchEncoder encoder;
  const std::unique_ptr<UdpSender> sender;

  // Taken in this order: sendLock, lock, packLock.
  enum class Waiting { Busy, Pausing, Sleeping };
  SpinLock lock;  // guards queue, closing, flushRequested, state, workerStopped
  std::condition_variable_any wake;
  std::condition_variable_any stopped;
  EncodedSpans queue;
  bool closing = false;
  bool flushRequested = false;
  bool workerStopped = false;
  Waiting state = Waiting::Busy;

  SpinLock packLock;  // guards taken, packing, packingDone, open, openSince, sealed and spare
  const EncodedSpans* packing = nullptr;  // the spans pack() is at, and how many it has done
  size_t packingDone = 0;
  // What the background thread took from the queue to pack. Kept here rather than on its
  // stack, so that the flush at exit still finds spans taken by a thread ExitProcess killed.
  EncodedSpans taken;
  EncodedSpans open;
  std::chrono::steady_clock::time_point openSince;
  std::deque<EncodedSpans> sealed;
  std::vector<EncodedSpans> spare;  // sent datagrams' buffers, emptied

  std::mutex sendLock;  // one sender of datagrams at a time

  std::atomic<uint64_t> reported{0}, droppedQueueFull{0}, droppedTooLarge{0}, droppedSendFailed{0},
      sendFailures{0}, datagrams{0}, bytesSent{0};
};

namespace {

// The reporters alive in the process, for the flush at exit. Never destroyed: it is used while
// the library's statics are being torn down.
struct LiveReporters {
  std::mutex lock;
  std::set<std::weak_ptr<Reporter::State>, std::owner_less<std::weak_ptr<Reporter::State>>> states;
};

LiveReporters& liveReporters() {
  static LiveReporters* reporters = new LiveReporters;
  return *reporters;
}

std::vector<std::shared_ptr<Reporter::State>> liveStates() {
  std::vector<std::shared_ptr<Reporter::State>> states;
  LiveReporters& live = liveReporters();
  if (!lockWithin(live.lock, kLockTimeout)) return states;
  std::lock_guard<std::mutex> guard(live.lock, std::adopt_lock);
  for (const auto& weak : live.states) {
    if (auto state = weak.lock()) states.push_back(state);
  }
  return states;
}

}  // namespace

Reporter::Reporter(const Process& process, std::unique_ptr<UdpSender> sender, const Options& options)
    : _state(std::make_shared<State>(process, std::move(sender), options)) {
  {
    std::lock_guard<std::mutex> guard(liveReporters().lock);
    liveReporters().states.insert(_state);
  }
  std::thread(&State::run, _state).detach();
}

Reporter::~Reporter() {
  close();
  if (!lockWithin(liveReporters().lock, kLockTimeout)) return;
  std::lock_guard<std::mutex> guard(liveReporters().lock, std::adopt_lock);
  liveReporters().states.erase(_state);
}

void Reporter::report(const SpanRecord& span) noexcept {
  State& s = *_state;
  // Encoded before the lock is taken, so that threads finishing spans at once only meet to
  // copy the bytes. A typical span (130 bytes) fits the stack buffer and needs no allocation.
  char local[kTypicalSpanRoom];
  std::unique_ptr<char[]> large;
  char* encoded = local;
  const size_t room = maxSpanSize(span);
  if (room > sizeof local) {
    large.reset(new (std::nothrow) char[room]);
    if (!large) {
      ++s.droppedQueueFull;
      return;
    }
    encoded = large.get();
  }
  const size_t size = static_cast<size_t>(writeSpan(encoded, span) - encoded);
  if (size > s.encoder.maxSpanBytes()) {
    ++s.droppedTooLarge;
    return;
  }
  bool wakeWorker = false;
  if (!lockUnlessEnding(s.lock)) {
    ++s.droppedQueueFull;
    return;
  }
  {
    std::lock_guard<SpinLock> guard(s.lock, std::adopt_lock);
    try {
      if (s.closing || (s.queue.count() >= s.options.queueSize && !s.makeRoom())) {
        ++s.droppedQueueFull;
        return;
      }
      s.queue.append(encoded, static_cast<uint16_t>(size));
    } catch (...) {
      ++s.droppedQueueFull;
      return;
    }
    // Only a sleeping background thread needs waking; a busy one comes back to the queue, a
    // pausing one after its pause. A pause that overruns under load is covered by the bound of
    // waiting datagrams, which is cheaper than a wake from every producer.
    if (s.state == State::Waiting::Sleeping) {
      s.state = State::Waiting::Busy;
      wakeWorker = true;
    }
  }
  if (wakeWorker) s.wake.notify_one();
  if (s.options.logSpans) {
    try {
      logSpan(span);
    } catch (...) {
    }
  }
}

void Reporter::close() noexcept {
  State& s = *_state;
  // A tracer destroyed while the process ends (a global one, say) has no thread to wait for.
  if (processEnding()) {
    s.drainHere(true);
    return;
  }
  {
    if (!lockWithin(s.lock, kLockTimeout)) return;
    std::unique_lock<SpinLock> guard(s.lock, std::adopt_lock);
    s.closing = true;
    s.wake.notify_all();
    if (s.stopped.wait_for(guard, kWorkerAnswerTimeout, [&s] { return s.workerStopped; })) return;
  }
  s.drainHere(false);
}

Tracer::Statistics Reporter::statistics() const noexcept {
  const State& s = *_state;
  Tracer::Statistics result;
  result.reported = s.reported;
  result.droppedQueueFull = s.droppedQueueFull;
  result.droppedTooLarge = s.droppedTooLarge;
  result.droppedSendFailed = s.droppedSendFailed;
  result.sendFailures = s.sendFailures;
  result.datagrams = s.datagrams;
  result.bytesSent = s.bytesSent;
  return result;
}

void Reporter::waitAllBeforeExit() noexcept {
  // Run late by a run-time that exits from its detach, the background threads are gone and
  // waiting for them would only delay the flush at detach.
  if (processEnding()) return;
  try {
    for (const auto& state : liveStates()) state->waitUntilSent(kWorkerAnswerTimeout);
  } catch (...) {
  }
}

void Reporter::flushAllAtExit() noexcept {
  try {
    for (const auto& state : liveStates()) state->drainHere(true);
  } catch (...) {
  }
}

}  // namespace jaegertracing
