#pragma once
// The project's own agent decoder (agent_capture.py) run beside the Wine test, and what it received.

#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace testsupport {

struct ReceivedTag {
  std::string key;
  std::string type;   // "STRING", "DOUBLE", "BOOL", "LONG", "BINARY"
  std::string value;  // as text: "text", "true", "43", "2.5"
};

struct ReceivedSpan {
  int64_t datagram = 0;  // which datagram, counted from 1, carried the span
  std::string service;
  uint64_t traceIdLow = 0, traceIdHigh = 0, spanId = 0, parentSpanId = 0;
  int64_t flags = 0, startTime = 0, duration = 0;
  std::string operationName;
  std::vector<ReceivedTag> processTags, tags;
  std::vector<std::pair<std::string, uint64_t>> references;  // type ("CHILD_OF", "FOLLOWS_FROM") and span id
  std::vector<std::vector<ReceivedTag>> logs;  // the fields of each log

  const ReceivedTag* tag(const std::string& key) const;  // the tag of this key, or null
  const ReceivedTag* processTag(const std::string& key) const;
};

struct AgentSummary {
  int64_t undecodable = 0;  // datagrams the decoder rejected (the spans in them are not counted)
  int64_t spans = 0;
  int64_t duplicates = 0;   // spans whose trace and span ids had come before
  // For operation names "<group> <number>": the numbers received, as sorted ranges [first, last].
  std::map<std::string, std::vector<std::pair<int64_t, int64_t>>> groups;

  // How many numbers of the group below `end` did not arrive.
  int64_t missingBelow(const std::string& group, int64_t end) const;
};

// For one test thread. The constructor and stop() throw std::runtime_error when the decoder fails.
class AgentListener {
 public:
  enum class Record { EachSpan, SummaryOnly };  // SummaryOnly: for hundreds of thousands of spans
  // Listens on 127.0.0.1 and the port (0: a free one) once constructed.
  explicit AgentListener(int port = 0, Record record = Record::EachSpan);
  ~AgentListener();
  AgentListener(const AgentListener&) = delete;
  AgentListener& operator=(const AgentListener&) = delete;

  int port() const { return _port; }
  std::string hostPort() const { return "127.0.0.1:" + std::to_string(_port); }

  // Every span received so far; after stop(), every span sent before it.
  std::vector<ReceivedSpan> spans() const;
  // Waits until at least `count` spans have arrived or the timeout passes; returns them all.
  std::vector<ReceivedSpan> waitForSpans(size_t count,
                                         std::chrono::milliseconds timeout = std::chrono::seconds(30)) const;
  // Decodes every datagram that reached the socket, stops, and returns what it counted.
  AgentSummary stop();

 private:
  std::wstring _folder;
  int _port = 0;
};

// The span of this operation name, or null.
const ReceivedSpan* findSpan(const std::vector<ReceivedSpan>& spans, const std::string& operationName);

}  // namespace testsupport
