#pragma once
// One lane of a reporter: what its finishing threads, its background thread, close and the flush
// at exit share.
//
// A lane's state is its phase (ReporterLifecycle.h, with the rules every part keeps) and three
// flags, all guarded by its lock:
// - workerSleeping: the background thread waits for work without a bound; a thread that adds a
//   span must wake it. (Pausing for a moment for more spans, it is not sleeping.)
// - flushRequested: an exit handler asked for what waits to be sent now, the open datagram
//   included; cleared once nothing waits.
// - stalled: a finishing thread waited in vain for a sender to make room; later ones drop their
//   span at once until a datagram leaves, rather than each wait for a sender that may be stuck.
// Invariants: in Running spans are taken; from Closing on none is; Done means the background
// thread is gone or has nothing more to do, and every span taken is settled or counted lost.

#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>

#include "jaeger/src/Datagrams.h"
#include "jaeger/src/Reporter.h"
#include "jaeger/src/ReporterLifecycle.h"

namespace jaegertracing {

class ReporterLane {
 public:
  using Clock = std::chrono::steady_clock;

  // Throws std::bad_alloc.
  ReporterLane(const Process& process, std::unique_ptr<UdpSender> sender, const Reporter::Options& options);

  // A finishing thread.
  void report(const SpanRecord& span) noexcept;
  // The background thread, until the lane is closed or done.
  static void run(std::shared_ptr<ReporterLane> lane) noexcept;
  void close() noexcept;
  // From an exit handler, while every thread still runs: has the background thread send what
  // waits now, and waits for it until the deadline. False when it did not finish. (ExitFlush.cpp)
  bool sendAllBefore(Clock::time_point deadline) noexcept;
  // At process exit, the other threads gone: sends what is left from this thread without
  // blocking and counts what did not go as lost at exit. (ExitFlush.cpp)
  void flushAtProcessEnd() noexcept;

  // Adds this lane's counts to sum.
  void addStatistics(Tracer::Statistics& sum) const noexcept;

 private:
  using Counts = Tracer::Statistics;
  using Count = uint64_t Counts::*;
  static constexpr size_t kCounts = sizeof(Counts) / sizeof(uint64_t);

  void work() noexcept;
  // The caller holds sendLock (or, at process exit, its owner is dead). Sends the oldest waiting
  // datagram; false when none waited.
  bool sendOldest() noexcept;
  void transmit(const DatagramSpans& datagram) noexcept;
  // The last datagram sent went out, or was refused by the agent's port; the caller holds
  // sendLock. settleLast asks the socket, which only close and the flush at exit may do.
  void confirmLast() noexcept;
  void refuseLast() noexcept;
  void settleLast() noexcept;
  // Spans taken and not yet counted in an outcome.
  uint64_t pending() const noexcept;
  // Moves the phase, which the caller has checked the lifecycle allows (or holds the lock of).
  void enter(Phase next) noexcept;

  std::atomic<uint64_t>& counter(Count which) noexcept;
  uint64_t counted(Count which) const noexcept;
  void add(Count which, uint64_t amount = 1) noexcept { counter(which) += amount; }

  const Reporter::Options options;
  const BatchEncoder encoder;
  const std::unique_ptr<UdpSender> sender;

  // Taken in this order: sendLock, lock; a finishing thread that holds lock only tries sendLock.
  ExitBoundedLock lock;  // guards everything up to sendLock
  Lifecycle lifecycle;
  Datagrams datagrams;
  CONDITION_VARIABLE workToDo = CONDITION_VARIABLE_INIT;      // the background thread waits here
  CONDITION_VARIABLE roomMade = CONDITION_VARIABLE_INIT;      // a datagram left
  CONDITION_VARIABLE workerStopped = CONDITION_VARIABLE_INIT;  // the phase became Done
  bool workerSleeping = false;
  bool flushRequested = false;
  bool stalled = false;

  ExitBoundedLock sendLock;  // one sender at a time
  // Spans of the last datagram sent, until it is known whether the agent's port refused it: the
  // refusal comes back as the failure of the next send, or is asked for at close. Written by
  // the sender; read by the exit handler's wait.
  std::atomic<uint64_t> unconfirmed{0};

  // Spans taken in, and the outcomes Tracer::Statistics lists, in its order.
  std::atomic<uint64_t> taken{0};
  std::atomic<uint64_t> counts[kCounts] = {};
};

}  // namespace jaegertracing
