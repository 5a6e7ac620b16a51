#pragma once
// Sampling decides at the root span of a trace whether the trace is recorded; the decision
// travels with the trace in the sampled flag. A sampled root span carries the sampler's tags.

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>

#include "jaeger/src/SpanContext.h"
#include "jaeger/src/Tag.h"
#include "jaegertracing/samplers/Config.h"

namespace jaegertracing {

struct SamplingDecision {
  bool sampled = false;
  EncodedTags tags;  // "sampler.type" and "sampler.param"
};

class Sampler {
 public:
  virtual ~Sampler() = default;
  virtual SamplingDecision decide(TraceId traceId) = 0;

  // Throws std::invalid_argument for a type this client does not know or cannot serve.
  static std::unique_ptr<Sampler> make(const samplers::Config& config);
};

// Samples everything (a decision of true) or nothing.
class ConstSampler : public Sampler {
 public:
  explicit ConstSampler(bool decision);
  SamplingDecision decide(TraceId traceId) override;

 private:
  bool _decision;
};

// Samples the given share of traces, decided from the trace id so that it is reproducible.
class ProbabilisticSampler : public Sampler {
 public:
  explicit ProbabilisticSampler(double rate);
  SamplingDecision decide(TraceId traceId) override;

 private:
  double _rate;
  uint64_t _boundary;
};

// Samples at most the given number of traces a second.
class RateLimitingSampler : public Sampler {
 public:
  explicit RateLimitingSampler(double tracesPerSecond);
  SamplingDecision decide(TraceId traceId) override;

 private:
  double _rate;
  std::mutex _lock;
  double _credits;
  std::chrono::steady_clock::time_point _last;
};

}  // namespace jaegertracing
