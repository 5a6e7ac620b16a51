#pragma once
// Test support: the agent listener (tools/agent/agent_listener.py, a Linux program) started on
// the agent port from under Wine. Wine cannot wait on a Linux process, so everything goes
// through files: the listener writes its port to a ready file and a JSON line a span, and stops
// when the stop file appears. Tests using it hold the agent-port lock.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct SpanRecord {
  std::string service;
  std::string operationName;
  uint64_t traceIdLow = 0;
  uint64_t spanId = 0;
  uint64_t parentSpanId = 0;
  std::map<std::string, std::string> tags;  // values as JSON text: strings quoted, numbers bare
};

class AgentListener {
 public:
  // Starts the listener on 127.0.0.1:6831 and waits until its socket is open.
  AgentListener();
  // Stops the listener and removes its files.
  ~AgentListener();
  AgentListener(const AgentListener&) = delete;
  AgentListener& operator=(const AgentListener&) = delete;

  bool ready() const { return ready_; }

  // The spans received so far, once at least count arrived or after a generous limit.
  std::vector<SpanRecord> spans(size_t count) const;

 private:
  std::string folder_;  // a Linux path, seen by Windows under Z:
  bool ready_ = false;
};

// The spans whose operation name begins with prefix.
std::vector<SpanRecord> named(const std::vector<SpanRecord>& spans, const std::string& prefix);
