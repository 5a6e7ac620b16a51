#pragma once
// Settings of a baggage-restriction service. The tracer keeps them as given; baggage is not restricted.

#include <chrono>
#include <string>

namespace jaegertracing {
namespace baggage {

class RestrictionsConfig {
 public:
  RestrictionsConfig(bool denyBaggageOnInitializationFailure = false, const std::string& hostPort = "",
                     std::chrono::steady_clock::duration refreshInterval = std::chrono::steady_clock::duration::zero())
      : _denyBaggageOnInitializationFailure(denyBaggageOnInitializationFailure),
        _hostPort(hostPort),
        _refreshInterval(refreshInterval) {}

  bool denyBaggageOnInitializationFailure() const { return _denyBaggageOnInitializationFailure; }
  const std::string& hostPort() const { return _hostPort; }
  std::chrono::steady_clock::duration refreshInterval() const { return _refreshInterval; }

 private:
  bool _denyBaggageOnInitializationFailure;
  std::string _hostPort;
  std::chrono::steady_clock::duration _refreshInterval;
};

}  // namespace baggage
}  // namespace jaegertracing
