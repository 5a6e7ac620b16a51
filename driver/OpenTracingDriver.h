#pragma once
// The one way the product's code opens a span. It never fails: with tracing off, or after any
// failure on the way to the provider, it hands out a span context that does nothing, and a
// failure switches tracing off for the rest of the process, in every module.

#include <cstdint>
#include <memory>
#include <string>

#include "provider/ISpanContextProvider.h"

namespace OpenTracingDriver {

// A span for the caller's scope, ended when the object is destroyed; never null. Destroy it on
// the creating thread, innermost first.
std::unique_ptr<ISpanContextProvider> StartSpan(const std::string& function, int32_t line, const std::string& name);

// Hands the trace on to the child processes started afterwards: writes the calling thread's
// current span (the process's root span on a thread without one) into the process environment,
// which children inherit. Call it just before starting a child; injections from two threads
// overwrite each other. Does nothing when tracing is off; never raises: a failure switches
// tracing off for the process, as in StartSpan. Any thread.
void InjectCurrentSpan();

// Whether the process traces; false when the state cannot be reached.
bool IsEnabled();

// Switches tracing off for the process; there is no way back.
void Disable();

}  // namespace OpenTracingDriver
