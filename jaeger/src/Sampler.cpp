#include "jaeger/src/Sampler.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>
#include <string>

namespace jaegertracing {

namespace {

std::string lowerCase(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

SamplingDecision decision(bool sampled, const char* type, opentracing::Value param) {
  SamplingDecision result;
  result.sampled = sampled;
  if (sampled) {
    result.tags.appendText("sampler.type", type);
    result.tags.append("sampler.param", param);
  }
  return result;
}

}  // namespace

std::unique_ptr<Sampler> Sampler::make(const samplers::Config& config) {
  const std::string type = lowerCase(config.type());
  if (type == "const") return std::unique_ptr<Sampler>(new ConstSampler(config.param() != 0));
  if (type == "probabilistic") return std::unique_ptr<Sampler>(new ProbabilisticSampler(config.param()));
  if (type == "ratelimiting") return std::unique_ptr<Sampler>(new RateLimitingSampler(config.param()));
  if (type == "remote") {
    throw std::invalid_argument(
        "sampler type \"remote\" needs a sampling server, which this client does not query; "
        "use \"const\", \"probabilistic\" or \"ratelimiting\"");
  }
  throw std::invalid_argument("unknown sampler type \"" + config.type() + "\"");
}

ConstSampler::ConstSampler(bool decision) : _decision(decision) {}

SamplingDecision ConstSampler::decide(TraceId) { return decision(_decision, "const", _decision); }

ProbabilisticSampler::ProbabilisticSampler(double rate) : _rate(std::min(1.0, std::max(0.0, rate))) {
  // Trace ids below the boundary are sampled; 2^64 itself does not fit, so 1.0 is special-cased.
  _boundary = _rate >= 1.0 ? UINT64_MAX : static_cast<uint64_t>(_rate * 18446744073709551616.0);
}

SamplingDecision ProbabilisticSampler::decide(TraceId traceId) {
  bool sampled = _rate >= 1.0 || traceId.low < _boundary;
  return decision(sampled, "probabilistic", _rate);
}

RateLimitingSampler::RateLimitingSampler(double tracesPerSecond)
    : _rate(std::max(0.0, tracesPerSecond)), _credits(std::max(1.0, _rate)), _last(std::chrono::steady_clock::now()) {}

SamplingDecision RateLimitingSampler::decide(TraceId) {
  bool sampled = false;
  {
    std::lock_guard<std::mutex> lock(_lock);
    auto now = std::chrono::steady_clock::now();
    double elapsed = std::chrono::duration<double>(now - _last).count();
    _last = now;
    _credits = std::min(std::max(1.0, _rate), _credits + elapsed * _rate);
    if (_rate > 0 && _credits >= 1.0) {
      _credits -= 1.0;
      sampled = true;
    }
  }
  return decision(sampled, "ratelimiting", _rate);
}

}  // namespace jaegertracing
