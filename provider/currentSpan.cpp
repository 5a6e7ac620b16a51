#include "provider/currentSpan.h"

thread_local std::unique_ptr<opentracing::Span> currentSpan;
