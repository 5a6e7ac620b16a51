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

  // Encodes the spans, sending each datagram as it fills and the last one at the end.
  // The caller holds sendLock.
  void send(std::deque<SpanRecord>& spans) noexcept {
    try {
      std::vector<std::string> batch;
      size_t bytes = 0;
      for (auto& span : spans) {
        std::string encoded = encodeSpan(span);
        if (encoder.datagramSize(1, encoded.size()) > kMaxDatagram) {
          ++droppedTooLarge;
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
    }
    spans.clear();
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
    batch.clear();
  }

  // Takes what is queued and sends it from the calling thread, unless another sender cannot be
  // waited for (killed holding the lock at process exit).
  void drainHere() noexcept {
    std::deque<SpanRecord> spans;
    if (!lock.try_lock_for(kLockTimeout)) return;
    closing = true;
    spans.swap(queue);
    lock.unlock();
    if (!sendLock.try_lock_for(kLockTimeout)) return;
    send(spans);
    sendLock.unlock();
  }

  static void run(std::shared_ptr<State> state) noexcept { state->work(); }

  void work() noexcept {
    auto nextFlush = std::chrono::steady_clock::now() + options.flushInterval;
    for (;;) {
      std::deque<SpanRecord> spans;
      bool stop;
      {
        std::unique_lock<std::timed_mutex> guard(lock);
        wake.wait_until(guard, nextFlush, [this] { return closing || queue.size() >= wakeThreshold(); });
        spans.swap(queue);
        stop = closing;
      }
      {
        std::lock_guard<std::timed_mutex> guard(sendLock);
        send(spans);
      }
      auto now = std::chrono::steady_clock::now();
      if (now >= nextFlush) nextFlush = now + options.flushInterval;
      if (stop) break;
    }
    {
      std::lock_guard<std::timed_mutex> guard(lock);
      workerStopped = true;
    }
    stopped.notify_all();
  }

  size_t wakeThreshold() const { return options.queueSize / 2 > 0 ? options.queueSize / 2 : 1; }

  const Options options;
  const BatchEncoder encoder;
  const std::unique_ptr<UdpSender> sender;

  std::timed_mutex lock;  // guards queue, closing, workerStopped
  std::condition_variable_any wake;
  std::condition_variable_any stopped;
  std::deque<SpanRecord> queue;
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
    std::lock_guard<std::timed_mutex> guard(s.lock);
    if (s.closing || s.queue.size() >= s.options.queueSize) {
      ++s.droppedQueueFull;
      return;
    }
    s.queue.push_back(std::move(span));
    wakeWorker = s.queue.size() == s.wakeThreshold();
  } catch (...) {
    ++s.droppedQueueFull;
    return;
  }
  if (wakeWorker) s.wake.notify_one();
}

void Reporter::close() noexcept {
  State& s = *_state;
  {
    std::unique_lock<std::timed_mutex> guard(s.lock, std::defer_lock);
    if (!guard.try_lock_for(kLockTimeout)) return;
    s.closing = true;
    s.wake.notify_all();
    if (s.stopped.wait_for(guard, kWorkerAnswerTimeout, [&s] { return s.workerStopped; })) return;
  }
  s.drainHere();
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

void Reporter::flushAllAtExit() noexcept {
  LiveReporters& live = liveReporters();
  if (!live.lock.try_lock_for(kLockTimeout)) return;
  std::vector<std::shared_ptr<State>> states;
  for (const auto& weak : live.states) {
    if (auto state = weak.lock()) states.push_back(state);
  }
  live.lock.unlock();
  for (const auto& state : states) state->drainHere();
}

}  // namespace jaegertracing
