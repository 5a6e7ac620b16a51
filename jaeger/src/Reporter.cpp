#include "jaeger/src/Reporter.h"

#include <cstdio>
#include <new>
#include <string>
#include <thread>
#include <utility>

#include "jaeger/src/ExitFlush.h"
#include "jaeger/src/ReporterState.h"

namespace jaegertracing {

namespace {

using Clock = std::chrono::steady_clock;

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

// Straight to the handle: at exit the run-time's stream lock may belong to a killed thread.
void logAtExit(uint64_t sent, uint64_t lost) noexcept {
  char line[96];
  const int size = std::snprintf(line, sizeof line, "jaegertracing: at exit %llu spans sent, %llu lost\n",
                                 static_cast<unsigned long long>(sent), static_cast<unsigned long long>(lost));
  DWORD written = 0;
  if (size > 0) WriteFile(GetStdHandle(STD_ERROR_HANDLE), line, static_cast<DWORD>(size), &written, nullptr);
}

}  // namespace

Reporter::State::State(const Process& process, std::unique_ptr<UdpSender> sender, const Options& options)
    : options(options), encoder(process), sender(std::move(sender)), datagrams(encoder) {}

void Reporter::State::report(const SpanRecord& span) noexcept {
  // Encoded before the lock is taken, so that threads finishing spans at once only meet to
  // copy the bytes. A typical span (130 bytes) fits the stack buffer and needs no allocation.
  char local[kTypicalSpanRoom];
  std::unique_ptr<char[]> large;
  char* encoded = local;
  const size_t room = maxSpanSize(span);
  if (room > sizeof local) {
    large.reset(new (std::nothrow) char[room]);
    if (!large) {
      ++droppedOutOfMemory;
      return;
    }
    encoded = large.get();
  }
  const size_t size = static_cast<size_t>(writeSpan(encoded, span) - encoded);
  if (size > encoder.maxSpanBytes()) {
    ++droppedTooLarge;
    return;
  }
  ExitBoundedLock::Guard guard(lock);
  for (;;) {
    const Phase phase = guard ? lifecycle.phase() : Phase::ProcessEnding;
    if (phase != Phase::Running) {
      // At exit: after the flush, or the lock of a killed thread.
      if (phase == Phase::ProcessEnding || processEnding()) {
        ++taken;
        ++lostAtExit;
      } else {
        ++droppedClosed;
      }
      return;
    }
    try {
      if (datagrams.add(encoded, static_cast<uint16_t>(size))) break;
    } catch (...) {
      ++droppedOutOfMemory;
      return;
    }
    // The waiting datagrams are at their bound: no sender keeps up, most often because the
    // background thread gets no processor among many finishing threads. Send rather than drop.
    if (stalled) {
      ++droppedQueueFull;
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
    if (processEnding() || !SleepConditionVariableSRW(&roomMade, lock.native(), kRoomWaitMs, 0)) {
      if (datagrams.atBound()) {
        stalled = true;
        ++droppedQueueFull;
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

void Reporter::State::run(std::shared_ptr<State> state) noexcept { state->work(); }

void Reporter::State::work() noexcept {
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
          SleepConditionVariableSRW(&workToDo, lock.native(), kQuietPauseMs, 0);
          if (datagrams.waiting() == 0 && datagrams.openSpans() == open) {
            datagrams.seal();
            break;
          }
          continue;
        }
        flushRequested = false;
        workerSleeping = true;
        SleepConditionVariableSRW(&workToDo, lock.native(), INFINITE, 0);
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
      lifecycle.moveTo(Phase::Done);
      workerGone = true;
      WakeAllConditionVariable(&workerStopped);
      return;
    }
  }
}

bool Reporter::State::sendOldest() noexcept {
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

void Reporter::State::transmit(const DatagramSpans& datagram) noexcept {
  char listHeader[BatchEncoder::kMaxListHeader];
  const auto pieces = encoder.datagram(listHeader, datagram.bytes, datagram.size, datagram.count);
  const auto result = sender->send(pieces.data(), pieces.size());
  if (result.earlierRefused) refuseLast();
  switch (result.outcome) {
    case UdpSender::Outcome::Sent:
      confirmLast();
      unconfirmed = datagram.count;
      ++datagramsSent;
      bytesSent += encoder.datagramSize(datagram.count, datagram.size);
      if (result.refused) refuseLast();
      break;
    case UdpSender::Outcome::WouldBlock:
      // At exit: the datagram stays pending, and is counted as lost at exit.
      break;
    case UdpSender::Outcome::Failed:
      droppedSendFailed += datagram.count;
      ++sendFailures;
      break;
  }
}

void Reporter::State::confirmLast() noexcept {
  reported += unconfirmed;
  unconfirmed = 0;
}

void Reporter::State::refuseLast() noexcept {
  if (unconfirmed == 0) return;
  droppedSendFailed += unconfirmed;
  ++sendFailures;
  unconfirmed = 0;
}

void Reporter::State::settleLast() noexcept {
  if (unconfirmed == 0) return;
  if (sender->earlierRefused()) {
    refuseLast();
  } else {
    confirmLast();
  }
}

uint64_t Reporter::State::pending() const noexcept {
  const uint64_t settled = reported + droppedSendFailed + lostAtExit;
  const uint64_t all = taken;
  return all > settled ? all - settled : 0;
}

void Reporter::State::close() noexcept {
  if (processEnding()) {
    // A tracer destroyed while the process ends (a global one, say) has no thread to wait for.
    flushAtProcessEnd(Clock::now() + kExitBudget);
    return;
  }
  {
    ExitBoundedLock::Guard guard(lock);
    if (lifecycle.phase() == Phase::Done) return;
    lifecycle.moveTo(Phase::Closing);
    WakeConditionVariable(&workToDo);
    const auto deadline = Clock::now() + kWorkerAnswerTimeout;
    while (!workerGone && SleepConditionVariableSRW(&workerStopped, lock.native(), millisUntil(deadline), 0)) {
    }
    if (workerGone || lifecycle.phase() == Phase::Done) return;
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
  lifecycle.moveTo(Phase::Done);
}

bool Reporter::State::sendAllBefore(Clock::time_point deadline) noexcept {
  uint64_t target;
  {
    ExitBoundedLock::Guard guard(lock);
    if (lifecycle.phase() != Phase::Running) return true;
    flushRequested = true;
    target = taken;
    WakeConditionVariable(&workToDo);
  }
  // The last datagram sent is settled only by the next one, or at close: it counts as gone.
  while (taken - pending() + unconfirmed < target) {
    if (Clock::now() >= deadline) return false;
    Sleep(1);
  }
  return true;
}

void Reporter::State::flushAtProcessEnd(Clock::time_point deadline) noexcept {
  const uint64_t reportedBefore = reported;
  // A lock not had within its bound belongs to a killed thread. The datagrams are readable
  // whatever it was doing, and this thread is the only one left: it goes on without the lock.
  ExitBoundedLock::Guard guard(lock);
  if (guard && lifecycle.phase() == Phase::Done) return;
  lifecycle.moveTo(Phase::ProcessEnding);
  // A sender killed in the middle of a send keeps its datagram, which is not sent again, and its
  // socket, which it may leave stalling every later send.
  ExitBoundedLock::Guard sending(sendLock);
  sender->sendWithoutBlocking();
  datagrams.sealAfterKill();
  while (datagrams.waiting() > 0 && Clock::now() < deadline) {
    transmit(datagrams.takeOldest());
    datagrams.releaseInFlight();
  }
  settleLast();
  lifecycle.moveTo(Phase::Done);
  const uint64_t lost = pending();
  lostAtExit += lost;
  if (options.logSpans) logAtExit(reported - reportedBefore, lost);
}

void Reporter::State::addStatistics(Tracer::Statistics& sum) const noexcept {
  sum.reported += reported;
  sum.droppedQueueFull += droppedQueueFull;
  sum.droppedTooLarge += droppedTooLarge;
  sum.droppedOutOfMemory += droppedOutOfMemory;
  sum.droppedSendFailed += droppedSendFailed;
  sum.droppedClosed += droppedClosed;
  sum.lostAtExit += lostAtExit;
  sum.sendFailures += sendFailures;
  sum.datagrams += datagramsSent;
  sum.bytesSent += bytesSent;
}

namespace {

// A lane for each processor, up to four: more lanes than cores only add background threads.
size_t laneCount() noexcept {
  SYSTEM_INFO system;
  GetSystemInfo(&system);
  const size_t processors = system.dwNumberOfProcessors;
  return processors < 1 ? 1 : processors > 4 ? 4 : processors;
}

}  // namespace

Reporter::Reporter(const Process& process, const std::string& agentHostPort, const Options& options) {
  const size_t lanes = laneCount();
  _lanes.reserve(lanes);
  try {
    for (size_t k = 0; k < lanes; ++k) {
      auto state = std::make_shared<State>(process, std::unique_ptr<UdpSender>(new UdpSender(agentHostPort)), options);
      addLiveReporter(state);
      _lanes.push_back(state);
      std::thread(&State::run, state).detach();
    }
  } catch (...) {
    for (const auto& state : _lanes) {
      state->close();
      removeLiveReporter(state);
    }
    throw;
  }
}

Reporter::~Reporter() {
  close();
  for (const auto& state : _lanes) removeLiveReporter(state);
}

// Thread ids are multiples of four, given out in turn: threads started one after another get
// lanes one after another, with no lookup in a thread's own storage.
Reporter::State& Reporter::laneOfThisThread() const noexcept {
  return *_lanes[(GetCurrentThreadId() >> 2) % _lanes.size()];
}

void Reporter::report(const SpanRecord& span) noexcept { laneOfThisThread().report(span); }

void Reporter::close() noexcept {
  for (const auto& state : _lanes) state->close();
}

Tracer::Statistics Reporter::statistics() const noexcept {
  Tracer::Statistics sum;
  for (const auto& state : _lanes) state->addStatistics(sum);
  return sum;
}

}  // namespace jaegertracing
