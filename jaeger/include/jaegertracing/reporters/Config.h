#pragma once
// How finished spans leave the process. Non-positive sizes or intervals and an empty address take
// the defaults.

#include <chrono>
#include <string>

namespace jaegertracing {
namespace reporters {

class Config {
 public:
  static constexpr int kDefaultQueueSize = 100;
  static constexpr const char* kDefaultLocalAgentHostPort = "127.0.0.1:6831";
  static constexpr std::chrono::steady_clock::duration defaultBufferFlushInterval() {
    return std::chrono::seconds(10);
  }

  explicit Config(int queueSize = kDefaultQueueSize,
                  std::chrono::steady_clock::duration bufferFlushInterval = defaultBufferFlushInterval(),
                  bool logSpans = false, const std::string& localAgentHostPort = kDefaultLocalAgentHostPort)
      : _queueSize(queueSize <= 0 ? kDefaultQueueSize : queueSize),
        _bufferFlushInterval(bufferFlushInterval.count() <= 0 ? defaultBufferFlushInterval() : bufferFlushInterval),
        _logSpans(logSpans),
        _localAgentHostPort(localAgentHostPort.empty() ? kDefaultLocalAgentHostPort : localAgentHostPort) {}

  int queueSize() const { return _queueSize; }
  std::chrono::steady_clock::duration bufferFlushInterval() const { return _bufferFlushInterval; }
  bool logSpans() const { return _logSpans; }
  const std::string& localAgentHostPort() const { return _localAgentHostPort; }

 private:
  int _queueSize;
  std::chrono::steady_clock::duration _bufferFlushInterval;
  bool _logSpans;
  std::string _localAgentHostPort;
};

}  // namespace reporters
}  // namespace jaegertracing
