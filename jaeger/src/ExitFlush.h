#pragma once
// The reporters' flush at process exit. exit() runs the C run-time's exit handlers while every
// thread still runs, so the first step has the background threads send what waits; by the
// library's detach at exit, ExitProcess has killed them, perhaps inside a lock or a send, and the
// exiting thread sends what is left. Both steps together wait at most kExitBudget.

#include <chrono>
#include <memory>

#include "jaeger/src/Reporter.h"

namespace jaegertracing {

constexpr std::chrono::milliseconds kExitBudget{1000};

// The reporters the flush at exit visits. Any thread.
void addLiveReporter(const std::shared_ptr<Reporter::State>& state);
void removeLiveReporter(const std::shared_ptr<Reporter::State>& state) noexcept;

// Registers sendAllBeforeExit with the process's C run-time, once.
void sendAllBeforeExitOnExit() noexcept;
// From an exit handler, every thread still running.
void sendAllBeforeExit() noexcept;
// From the library's detach at process exit.
void flushAllAtProcessEnd() noexcept;

}  // namespace jaegertracing
