#pragma once
// The carrier keys under which span contexts and baggage travel. An empty name takes its default.

#include <string>

namespace jaegertracing {
namespace propagation {

class HeadersConfig {
 public:
  HeadersConfig() : HeadersConfig("", "", "", "") {}

  HeadersConfig(const std::string& jaegerDebugHeader, const std::string& jaegerBaggageHeader,
                const std::string& traceContextHeaderName, const std::string& traceBaggageHeaderPrefix)
      : _jaegerDebugHeader(orDefault(jaegerDebugHeader, "jaeger-debug-id")),
        _jaegerBaggageHeader(orDefault(jaegerBaggageHeader, "jaeger-baggage")),
        _traceContextHeaderName(orDefault(traceContextHeaderName, "uber-trace-id")),
        _traceBaggageHeaderPrefix(orDefault(traceBaggageHeaderPrefix, "uberctx-")) {}

  const std::string& jaegerDebugHeader() const { return _jaegerDebugHeader; }
  const std::string& jaegerBaggageHeader() const { return _jaegerBaggageHeader; }
  const std::string& traceContextHeaderName() const { return _traceContextHeaderName; }
  const std::string& traceBaggageHeaderPrefix() const { return _traceBaggageHeaderPrefix; }

 private:
  static std::string orDefault(const std::string& name, const char* fallback) {
    return name.empty() ? std::string(fallback) : name;
  }

  std::string _jaegerDebugHeader;
  std::string _jaegerBaggageHeader;
  std::string _traceContextHeaderName;
  std::string _traceBaggageHeaderPrefix;
};

}  // namespace propagation
}  // namespace jaegertracing
