#pragma once
// Hands the calling thread's current span (the root span on a thread without one) to the
// processes started afterwards, through the span-context variable of this process's
// environment. A span context the tracer cannot inject leaves the variable as it was.

#include "provider/providerEntryPoints.h"

void injectCurrentSpan(OpenTracingDriver::TracerPtr& tracerProvider);
