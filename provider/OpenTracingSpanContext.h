#pragma once
// One open span of a caller's scope. While the object lives its span is the thread's current
// span, so that spans opened later on the thread become its children; destroying the object
// ends the span and makes the previous one current again. Objects of one thread must be
// destroyed on it, innermost first.

#include <opentracing/span.h>

#include <cstdint>
#include <memory>
#include <string>

#include "provider/providerEntryPoints.h"

class OpenTracingSpanContext : public OpenTracingDriver::ISpanContextProvider {
 public:
  // A child of the thread's current span, or of the holder's root span for the thread's first
  // span. On failure the thread's current span is unchanged.
  OpenTracingSpanContext(OpenTracingDriver::TracerPtr& tracerProvider, const std::string& function, int32_t line,
                         const std::string& name);
  ~OpenTracingSpanContext() override;

  OpenTracingSpanContext(const OpenTracingSpanContext&) = delete;
  OpenTracingSpanContext& operator=(const OpenTracingSpanContext&) = delete;

  bool IsEnabled() override { return true; }
  // Both act on the thread's current span; on a thread without one they do nothing.
  void SetError(const std::string& description) override;
  void SetTag(const std::string& key, const std::string& value) override;

 private:
  OpenTracingDriver::TracerPtr& tracerProvider;
  // The span that was current before this one.
  std::unique_ptr<opentracing::Span> previousSpan;
};
