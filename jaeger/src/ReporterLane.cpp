#include "jaeger/src/ReporterLane.h"

#include <cassert>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <type_traits>
#include <utility>

namespace jaegertracing {

namespace {

using Clock = std::chrono::steady_clock;

static_assert(std::is_standard_layout<Tracer::Statistics>::value &&
                  sizeof(Tracer::Statistics) % sizeof(uint64_t) == 0 && alignof(Tracer::Statistics) == alignof(uint64_t),
              "the statistics are a run of 64-bit counts, which a lane keeps as an array");

// How long close waits for the background thread before sending itself.
constexpr std::chrono::milliseconds kWorkerAnswerTimeout(2000);
// A partly filled datagram goes out once no span has come for this long.
constexpr DWORD kQuietPauseMs = 1;
// How long a finishing thread waits for another to make room among the waiting datagrams before
// the network is taken to be unable to carry the load and the span is dropped.
constexpr DWORD kRoomWaitMs = 200;
// Stack room for encoding a finishing span; larger ones are encoded on the heap.
constexpr size_t kTypicalSpanRoom = 512;

DWORD millisUntil(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<DWORD>(left) : 0;
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

}  // namespace

ReporterLane::ReporterLane(const Process& process, std::unique_ptr<UdpSender> sender, const Reporter::Options& options)
    : options(options), encoder(process), sender(std::move(sender)), datagrams(encoder) {}

std::atomic<uint64_t>& ReporterLane::counter(Count which) noexcept {
  const Counts layout{};
  const auto offset = reinterpret_cast<const char*>(&(layout.*which)) - reinterpret_cast<const char*>(&layout);
  return counts[static_cast<size_t>(offset) / sizeof(uint64_t)];
}

uint64_t ReporterLane::counted(Count which) const noexcept {
  return const_cast<ReporterLane*>(this)->counter(which).load();
}

void ReporterLane::addStatistics(Tracer::Statistics& sum) const noexcept {
  uint64_t values[kCounts];
  static_assert(sizeof values == sizeof sum, "one count a field");
  std::memcpy(values, &sum, sizeof sum);
  for (size_t k = 0; k < kCounts; ++k) values[k] += counts[k].load();
  std::memcpy(&sum, values, sizeof sum);
}

void ReporterLane::enter(Phase next) noexcept {
  [[maybe_unused]] const bool moved = lifecycle.moveTo(next);
  assert(moved && "every caller checks the phase it leaves");
}

void ReporterLane::report(const SpanRecord& span) noexcept {
  // Encoded before the lock is taken, so that threads finishing spans at once only meet to
  // copy the bytes. A typical span (130 bytes) fits the stack buffer and needs no allocation.
  char local[kTypicalSpanRoom];
  std::unique_ptr<char[]> large;
  char* encoded = local;
  const size_t room = maxSpanSize(span);
  if (room > sizeof local) {
    large.reset(new (std::nothrow) char[room]);
    if (!large) {
      add(&Counts::droppedOutOfMemory);
      return;
    }
    encoded = large.get();
  }
  const size_t size = static_cast<size_t>(writeSpan(encoded, span) - encoded);
  if (size > encoder.maxSpanBytes()) {
    add(&Counts::droppedTooLarge);
    return;
  }
  ExitBoundedLock::Guard guard(lock);
  for (;;) {
    const Phase phase = guard ? lifecycle.phase() : Phase::ProcessEnding;
    if (phase != Phase::Running) {
      // At exit: after the flush, or the lock of a killed thread.
      if (phase == Phase::ProcessEnding || processEnding()) {
        ++taken;
        add(&Counts::lostAtExit);
      } else {
        add(&Counts::droppedClosed);
      }
      return;
    }
    try {
      if (datagrams.add(encoded, static_cast<uint16_t>(size))) break;
    } catch (...) {
      add(&Counts::droppedOutOfMemory);
      return;
    }
    // The waiting datagrams are at their bound: no sender keeps up, most often because the
    // background thread gets no processor among many finishing threads. Send rather than drop.
    if (stalled) {
      add(&Counts::droppedQueueFull);
      return;
    }
    if (sendLock.tryLock()) {
      guard.unlock();
      sendOldest();
      sendLock.unlock();
      guard.relock();
      continue;
    }
    // Another thread is sending: wait for it to make room, but not for ever on one that is stuck.
    if (processEnding() || !lock.sleepOn(roomMade, kRoomWaitMs)) {
      if (datagrams.atBound()) {
        stalled = true;
        add(&Counts::droppedQueueFull);
        return;
      }
    }
  }
  ++taken;
  // Only a sleeping background thread needs waking; a pausing one comes back within a moment,
  // and the bound of waiting datagrams covers a pause that overruns.
  if (workerSleeping) {
    workerSleeping = false;
    WakeConditionVariable(&workToDo);
  }
  guard.unlock();
  if (options.logSpans) {
    try {
      logSpan(span);
    } catch (...) {
    }
  }
}

void ReporterLane::run(std::shared_ptr<ReporterLane> lane) noexcept { lane->work(); }

void ReporterLane::work() noexcept {
  for (;;) {
    bool stop = false;
    {
      ExitBoundedLock::Guard guard(lock);
      for (;;) {
        const Phase phase = lifecycle.phase();
        if (phase == Phase::ProcessEnding || phase == Phase::Done) return;
        if (phase == Phase::Closing) {
          datagrams.seal();
          stop = true;
          break;
        }
        if (datagrams.waiting() > 0) break;
        const size_t open = datagrams.openSpans();
        if (open > 0) {
          if (flushRequested || Clock::now() - datagrams.openSince() >= options.flushInterval) {
            datagrams.seal();
            break;
          }
          // A datagram is partly filled: wait a moment for more before sending it.
          lock.sleepOn(workToDo, kQuietPauseMs);
          if (datagrams.waiting() == 0 && datagrams.openSpans() == open) {
            datagrams.seal();
            break;
          }
          continue;
        }
        flushRequested = false;
        workerSleeping = true;
        lock.sleepOn(workToDo, INFINITE);
        workerSleeping = false;
      }
    }
    {
      ExitBoundedLock::Guard sending(sendLock);
      while (sendOldest()) {
      }
      if (stop) settleLast();
    }
    if (stop) {
      ExitBoundedLock::Guard guard(lock);
      // close may have given up waiting and finished the lane itself meanwhile.
      if (lifecycle.phase() == Phase::Closing) enter(Phase::Done);
      WakeAllConditionVariable(&workerStopped);
      return;
    }
  }
}

bool ReporterLane::sendOldest() noexcept {
  DatagramSpans datagram;
  {
    ExitBoundedLock::Guard guard(lock);
    if (!guard || datagrams.waiting() == 0) return false;
    datagram = datagrams.takeOldest();
  }
  transmit(datagram);
  {
    ExitBoundedLock::Guard guard(lock);
    if (guard) {
      datagrams.releaseInFlight();
      stalled = false;
    }
  }
  WakeAllConditionVariable(&roomMade);
  return true;
}

void ReporterLane::transmit(const DatagramSpans& datagram) noexcept {
  char listHeader[BatchEncoder::kMaxListHeader];
  const auto pieces = encoder.datagram(listHeader, datagram.bytes, datagram.size, datagram.count);
  const auto result = sender->send(pieces.data(), pieces.size());
  if (result.earlierRefused) refuseLast();
  switch (result.outcome) {
    case UdpSender::Outcome::Sent:
      confirmLast();
      unconfirmed = datagram.count;
      add(&Counts::datagrams);
      add(&Counts::bytesSent, encoder.datagramSize(datagram.count, datagram.size));
      if (result.refused) refuseLast();
      break;
    case UdpSender::Outcome::WouldBlock:
      // At exit: the datagram stays pending, and is counted as lost at exit.
      break;
    case UdpSender::Outcome::Failed:
      add(&Counts::droppedSendFailed, datagram.count);
      add(&Counts::sendFailures);
      break;
  }
}

void ReporterLane::confirmLast() noexcept {
  add(&Counts::reported, unconfirmed);
  unconfirmed = 0;
}

void ReporterLane::refuseLast() noexcept {
  if (unconfirmed == 0) return;
  add(&Counts::droppedSendFailed, unconfirmed);
  add(&Counts::sendFailures);
  unconfirmed = 0;
}

void ReporterLane::settleLast() noexcept {
  if (unconfirmed == 0) return;
  if (sender->earlierRefused()) {
    refuseLast();
  } else {
    confirmLast();
  }
}

uint64_t ReporterLane::pending() const noexcept {
  const uint64_t settled = counted(&Counts::reported) + counted(&Counts::droppedSendFailed) + counted(&Counts::lostAtExit);
  const uint64_t all = taken;
  return all > settled ? all - settled : 0;
}

void ReporterLane::close() noexcept {
  if (processEnding()) {
    // A tracer destroyed while the process ends (a global one, say) has no thread to wait for.
    flushAtProcessEnd();
    return;
  }
  {
    ExitBoundedLock::Guard guard(lock);
    if (lifecycle.phase() == Phase::Done) return;
    // A close that gave up waiting, or one on another thread, found it Closing already.
    if (lifecycle.phase() == Phase::Running) enter(Phase::Closing);
    WakeConditionVariable(&workToDo);
    const auto deadline = Clock::now() + kWorkerAnswerTimeout;
    while (lifecycle.phase() != Phase::Done && lock.sleepOn(workerStopped, millisUntil(deadline))) {
    }
    if (lifecycle.phase() == Phase::Done) return;
    datagrams.seal();
  }
  // The background thread did not answer: not started yet under the loader lock, or gone.
  {
    ExitBoundedLock::Guard sending(sendLock);
    while (sendOldest()) {
    }
    settleLast();
  }
  ExitBoundedLock::Guard guard(lock);
  // The background thread may have finished the lane meanwhile.
  if (lifecycle.phase() == Phase::Closing) enter(Phase::Done);
}

}  // namespace jaegertracing
