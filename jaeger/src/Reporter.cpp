#include "jaeger/src/Reporter.h"

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace jaegertracing {

namespace {

// How long close waits for the background thread before sending itself, and how long any
// sender waits for another one that may have been killed at process exit.
constexpr std::chrono::milliseconds kWorkerAnswerTimeout(2000);
constexpr std::chrono::milliseconds kLockTimeout(500);

void logSpan(const SpanRecord& span) {
  std::string line = "jaegertracing: span " + toHex(span.traceId) + ":" + toHex(span.spanId) + ":" +
                     toHex(span.parentId) + ":" + toHex(span.flags) + " \"" + span.operationName +
                     "\" start " + std::to_string(span.startMicros) + " us, duration " +
                     std::to_string(span.durationMicros) + " us";
  for (const auto& tag : span.tags) line += ", " + tag.key + "=" + tag.valueText();
  line += "\n";
  std::fputs(line.c_str(), stderr);
  std::fflush(stderr);
}

}  // namespace

struct Reporter::State {
  State(const Process& process, std::unique_ptr<UdpSender> sender, const Options& options)
      : options(options), encoder(process), sender(std::move(sender)) {}

  // Sends the spans in flight, each datagram as it fills and the last one at the end. A span
  // leaves inFlight only once its datagram is out, so what a thread killed at process exit was
  // sending is still there for the flush at exit. The caller holds sendLock.
  void sendInFlight() noexcept {
    try {
      std::vector<std::string> batch;
      size_t bytes = 0;
      while (batch.size() < inFlight.size()) {
        const SpanRecord& span = inFlight[batch.size()];
        std::string encoded = encodeSpan(span);
        if (encoder.datagramSize(1, encoded.size()) > kMaxDatagram) {
          ++droppedTooLarge;
          inFlight.erase(inFlight.begin() + static_cast<std::ptrdiff_t>(batch.size()));
          continue;
        }
        if (options.logSpans) logSpan(span);
        if (encoder.datagramSize(batch.size() + 1, bytes + encoded.size()) > kMaxDatagram) {
          sendBatch(batch);
          bytes = 0;
        }
        bytes += encoded.size();
        batch.push_back(std::move(encoded));
      }
      if (!batch.empty()) sendBatch(batch);
    } catch (...) {
      // Out of memory while encoding: what was not sent is lost, and the reporter carries on.
      inFlight.clear();
    }
  }

  // Moves what is queued into flight. The caller holds sendLock and lock.
  void takeQueued() {
    for (auto& span : queue) inFlight.push_back(std::move(span));
    queue.clear();
  }

  void sendBatch(std::vector<std::string>& batch) {
    std::string datagram = encoder.datagram(batch);
    if (sender->send(datagram)) {
      reported += batch.size();
      ++datagrams;
      bytesSent += datagram.size();
    } else {
      droppedSendFailed += batch.size();
      ++sendFailures;
    }
    inFlight.erase(inFlight.begin(), inFlight.begin() + static_cast<std::ptrdiff_t>(batch.size()));
    batch.clear();
  }

  // Takes what is queued and sends it from the calling thread. At process exit the other
  // senders are dying, perhaps killed holding sendLock: after a bounded wait for it, the exit
  // flush goes on without it.
  void drainHere(bool atExit) noexcept {
    std::unique_lock<std::timed_mutex> sending(sendLock, std::defer_lock);
    if (!sending.try_lock_for(kLockTimeout) && !atExit) return;
    if (!lock.try_lock_for(kLockTimeout)) return;
    closing = true;
    if (queue.empty() && inFlight.empty()) {
      lock.unlock();
      return;
    }
    try {
      takeQueued();
    } catch (...) {
    }
    lock.unlock();
    sendInFlight();
  }

  // True once everything queued so far has been sent (or dropped), waiting at most the timeout.
  bool waitUntilSent(std::chrono::milliseconds timeout) noexcept {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    do {
      std::unique_lock<std::timed_mutex> sending(sendLock, std::defer_lock);
      if (sending.try_lock_for(kLockTimeout)) {
        std::unique_lock<std::timed_mutex> guard(lock, std::defer_lock);
        if (guard.try_lock_for(kLockTimeout) && queue.empty() && inFlight.empty()) return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    } while (std::chrono::steady_clock::now() < deadline);
    return false;
  }

  static void run(std::shared_ptr<State> state) noexcept { state->work(); }

  void work() noexcept {
    for (;;) {
      bool stop;
      {
        std::unique_lock<std::timed_mutex> guard(lock);
        wake.wait(guard, [this] { return closing || !queue.empty(); });
      }
      {
        std::lock_guard<std::timed_mutex> sending(sendLock);
        {
          std::lock_guard<std::timed_mutex> guard(lock);
          stop = closing;
          try {
            takeQueued();
          } catch (...) {
          }
        }
        sendInFlight();
      }
      if (stop) break;
    }
    {
      std::lock_guard<std::timed_mutex> guard(lock);
      workerStopped = true;
    }
    stopped.notify_all();
  }


  const Options options;
  const BatchEncoder encoder;
  const std::unique_ptr<UdpSender> sender;

  // Taken in this order: sendLock, then lock.
  std::timed_mutex lock;  // guards queue, closing, workerStopped
  std::condition_variable_any wake;
  std::condition_variable_any stopped;
  std::deque<SpanRecord> queue;
  std::deque<SpanRecord> inFlight;  // taken from the queue, not yet sent; guarded by sendLock
  bool closing = false;
  bool workerStopped = false;

  std::timed_mutex sendLock;  // one sender of datagrams at a time

  std::atomic<uint64_t> reported{0}, droppedQueueFull{0}, droppedTooLarge{0}, droppedSendFailed{0},
      sendFailures{0}, datagrams{0}, bytesSent{0};
};

namespace {

// The reporters alive in the process, for the flush at exit. Never destroyed: it is used while
// the library's statics are being torn down.
struct LiveReporters {
  std::atomic<bool> processEnding{false};  // set once the background threads are gone
  std::timed_mutex lock;
  std::set<std::weak_ptr<Reporter::State>, std::owner_less<std::weak_ptr<Reporter::State>>> states;
};

LiveReporters& liveReporters() {
  static LiveReporters* reporters = new LiveReporters;
  return *reporters;
}

}  // namespace

Reporter::Reporter(const Process& process, std::unique_ptr<UdpSender> sender, const Options& options)
    : _state(std::make_shared<State>(process, std::move(sender), options)) {
  {
    std::lock_guard<std::timed_mutex> guard(liveReporters().lock);
    liveReporters().states.insert(_state);
  }
  std::thread(&State::run, _state).detach();
}

Reporter::~Reporter() {
  close();
  std::lock_guard<std::timed_mutex> guard(liveReporters().lock);
  liveReporters().states.erase(_state);
}

void Reporter::report(SpanRecord&& span) noexcept {
  State& s = *_state;
  bool wakeWorker = false;
  try {
    // Bounded: at process exit the lock may belong to a thread that was killed holding it.
    std::unique_lock<std::timed_mutex> guard(s.lock, std::defer_lock);
    if (!guard.try_lock_for(kLockTimeout) || s.closing || s.queue.size() >= s.options.queueSize) {
      ++s.droppedQueueFull;
      return;
    }
    s.queue.push_back(std::move(span));
    // The worker sleeps only while the queue is empty, so a span is on its way at once and the
    // process may end soon after without a span caught in flight.
    wakeWorker = s.queue.size() == 1;
  } catch (...) {
    ++s.droppedQueueFull;
    return;
  }
  if (wakeWorker) s.wake.notify_one();
}

void Reporter::close() noexcept {
  State& s = *_state;
  // A tracer destroyed while the process ends (a global one, say) has no thread to wait for.
  if (liveReporters().processEnding) {
    s.drainHere(true);
    return;
  }
  {
    std::unique_lock<std::timed_mutex> guard(s.lock, std::defer_lock);
    if (!guard.try_lock_for(kLockTimeout)) return;
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

namespace {

std::vector<std::shared_ptr<Reporter::State>> liveStates() {
  std::vector<std::shared_ptr<Reporter::State>> states;
  LiveReporters& live = liveReporters();
  if (!live.lock.try_lock_for(kLockTimeout)) return states;
  for (const auto& weak : live.states) {
    if (auto state = weak.lock()) states.push_back(state);
  }
  live.lock.unlock();
  return states;
}

}  // namespace

void Reporter::waitAllBeforeExit() noexcept {
  try {
    for (const auto& state : liveStates()) state->waitUntilSent(kWorkerAnswerTimeout);
  } catch (...) {
  }
}

void Reporter::flushAllAtExit() noexcept {
  liveReporters().processEnding = true;
  try {
    for (const auto& state : liveStates()) state->drainHere(true);
  } catch (...) {
  }
}

}  // namespace jaegertracing
