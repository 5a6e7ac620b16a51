#pragma once
// The reporters' flush at process exit, all of it. exit() runs the C run-time's exit handlers
// while every thread still runs, so the first step has the lanes' background threads send what
// waits, for at most kExitBudget; by the library's detach at exit, ExitProcess has killed them,
// perhaps inside a lock or a send, and the exiting thread sends what is left without blocking:
// one send for each waiting datagram, at most the bound of waiting datagrams a lane.

#include <chrono>
#include <memory>

namespace jaegertracing {

class ReporterLane;

constexpr std::chrono::milliseconds kExitBudget{1000};

// The lanes the flush at exit visits: a reporter's lanes from its start to its end. Any thread;
// flushedAtExit throws std::bad_alloc.
void flushedAtExit(const std::shared_ptr<ReporterLane>& lane);
void notFlushedAtExit(const std::shared_ptr<ReporterLane>& lane) noexcept;

// Registers sendAllBeforeExit with the process's C run-time, once.
void sendAllBeforeExitOnExit() noexcept;
// From an exit handler, every thread still running.
void sendAllBeforeExit() noexcept;
// From the library's detach at process exit. Allocates nothing.
void flushAllAtProcessEnd() noexcept;

}  // namespace jaegertracing
