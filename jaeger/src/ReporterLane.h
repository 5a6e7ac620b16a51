#pragma once
// What a reporter's finishing threads, background thread, close and flush at exit share.

#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>

#include "jaeger/src/Datagrams.h"
#include "jaeger/src/Reporter.h"
#include "jaeger/src/ReporterLifecycle.h"

namespace jaegertracing {

struct Reporter::State {
  using Clock = std::chrono::steady_clock;

  // Throws std::bad_alloc.
  State(const Process& process, std::unique_ptr<UdpSender> sender, const Options& options);

  // A finishing thread.
  void report(const SpanRecord& span) noexcept;
  // The background thread, until the reporter is closed or done.
  static void run(std::shared_ptr<State> state) noexcept;
  void close() noexcept;
  // From an exit handler, while every thread still runs: has the background thread send what
  // waits now, and waits for it until the deadline. False when it did not finish.
  bool sendAllBefore(Clock::time_point deadline) noexcept;
  // At process exit, the other threads gone: sends what is left from this thread until the
  // deadline and counts the rest as lost at exit.
  void flushAtProcessEnd(Clock::time_point deadline) noexcept;

  // Adds this lane's counts to sum.
  void addStatistics(Tracer::Statistics& sum) const noexcept;

 private:
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

  const Options options;
  const BatchEncoder encoder;
  const std::unique_ptr<UdpSender> sender;

  // Taken in this order: sendLock, lock; a finishing thread that holds lock only tries sendLock.
  ExitBoundedLock lock;  // guards everything up to sendLock
  Lifecycle lifecycle;
  Datagrams datagrams;
  CONDITION_VARIABLE workToDo = CONDITION_VARIABLE_INIT;      // the background thread waits here
  CONDITION_VARIABLE roomMade = CONDITION_VARIABLE_INIT;      // a datagram left
  CONDITION_VARIABLE workerStopped = CONDITION_VARIABLE_INIT;
  bool workerSleeping = false;
  bool workerGone = false;
  bool flushRequested = false;
  // A finishing thread waited in vain for a sender to make room: later ones drop at once until
  // a datagram leaves, rather than each wait for a sender that may be stuck.
  bool stalled = false;

  ExitBoundedLock sendLock;  // one sender at a time
  // Spans of the last datagram sent, until it is known whether the agent's port refused it: the
  // refusal comes back as the failure of the next send, or is asked for at close. Written by
  // the sender; read by the exit handler's wait.
  std::atomic<uint64_t> unconfirmed{0};

  std::atomic<uint64_t> taken{0}, reported{0}, droppedQueueFull{0}, droppedTooLarge{0}, droppedOutOfMemory{0},
      droppedSendFailed{0}, droppedClosed{0}, lostAtExit{0}, sendFailures{0}, datagramsSent{0}, bytesSent{0};
};

}  // namespace jaegertracing
