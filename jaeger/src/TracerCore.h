#pragma once
// What a tracer's spans need of it: the service, sampler, propagation keys and reporter. Spans
// share it, so a span that outlives its tracer still finishes safely (it is dropped and
// counted once the tracer has closed).

#include <memory>
#include <string>

#include "jaeger/src/Reporter.h"
#include "jaeger/src/Sampler.h"
#include "jaegertracing/propagation/HeadersConfig.h"

namespace jaegertracing {

class TracerCore {
 public:
  TracerCore(std::string serviceName, std::unique_ptr<Sampler> sampler, propagation::HeadersConfig headers,
             std::unique_ptr<Reporter> reporter)
      : serviceName(std::move(serviceName)),
        sampler(std::move(sampler)),
        headers(std::move(headers)),
        reporter(std::move(reporter)) {}

  const std::string serviceName;
  const std::unique_ptr<Sampler> sampler;
  const propagation::HeadersConfig headers;
  const std::unique_ptr<Reporter> reporter;
};

}  // namespace jaegertracing
