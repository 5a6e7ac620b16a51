#pragma once
// How the tracer decides which new traces to record. Empty or non-positive values take the defaults.

#include <chrono>
#include <string>

namespace jaegertracing {
namespace samplers {

class Config {
 public:
  static constexpr const char* kDefaultType = "remote";
  static constexpr double kDefaultParam = 0.001;
  static constexpr const char* kDefaultSamplingServerURL = "http://127.0.0.1:5778";
  static constexpr int kDefaultMaxOperations = 2000;
  static constexpr std::chrono::steady_clock::duration defaultSamplingRefreshInterval() {
    return std::chrono::minutes(1);
  }

  // A param of 0 is kept: "const" with 0 means "sample nothing", a valid decision. Only a
  // negative param takes the default.
  explicit Config(const std::string& type = "", double param = -1, const std::string& samplingServerURL = "",
                  int maxOperations = 0,
                  std::chrono::steady_clock::duration samplingRefreshInterval = std::chrono::steady_clock::duration::zero())
      : _type(type.empty() ? kDefaultType : type),
        _param(param < 0 ? kDefaultParam : param),
        _samplingServerURL(samplingServerURL.empty() ? kDefaultSamplingServerURL : samplingServerURL),
        _maxOperations(maxOperations <= 0 ? kDefaultMaxOperations : maxOperations),
        _samplingRefreshInterval(samplingRefreshInterval.count() <= 0 ? defaultSamplingRefreshInterval()
                                                                      : samplingRefreshInterval) {}

  const std::string& type() const { return _type; }
  double param() const { return _param; }
  const std::string& samplingServerURL() const { return _samplingServerURL; }
  int maxOperations() const { return _maxOperations; }
  std::chrono::steady_clock::duration samplingRefreshInterval() const { return _samplingRefreshInterval; }

 private:
  std::string _type;
  double _param;
  std::string _samplingServerURL;
  int _maxOperations;
  std::chrono::steady_clock::duration _samplingRefreshInterval;
};

}  // namespace samplers
}  // namespace jaegertracing
