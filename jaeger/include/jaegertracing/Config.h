#pragma once
// The whole configuration of a tracer: on/off, sampling, reporting, propagation keys and baggage.

#include "jaegertracing/baggage/RestrictionsConfig.h"
#include "jaegertracing/propagation/HeadersConfig.h"
#include "jaegertracing/reporters/Config.h"
#include "jaegertracing/samplers/Config.h"

namespace jaegertracing {

class Config {
 public:
  Config(bool disabled = false, const samplers::Config& sampler = samplers::Config(),
         const reporters::Config& reporter = reporters::Config(),
         const propagation::HeadersConfig& headers = propagation::HeadersConfig(),
         const baggage::RestrictionsConfig& baggageRestrictions = baggage::RestrictionsConfig())
      : _disabled(disabled),
        _sampler(sampler),
        _reporter(reporter),
        _headers(headers),
        _baggageRestrictions(baggageRestrictions) {}

  bool disabled() const { return _disabled; }
  const samplers::Config& sampler() const { return _sampler; }
  const reporters::Config& reporter() const { return _reporter; }
  const propagation::HeadersConfig& headers() const { return _headers; }
  const baggage::RestrictionsConfig& baggageRestrictions() const { return _baggageRestrictions; }

 private:
  bool _disabled;
  samplers::Config _sampler;
  reporters::Config _reporter;
  propagation::HeadersConfig _headers;
  baggage::RestrictionsConfig _baggageRestrictions;
};

}  // namespace jaegertracing
