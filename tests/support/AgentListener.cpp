#include "tests/support/AgentListener.h"

#include <windows.h>

#include <algorithm>
#include <sstream>
#include <stdexcept>

#include "tests/support/runProcess.h"

namespace testsupport {

namespace {

// What the capture wrote: numbers in decimal, strings as "x" and the hex of their bytes, spaces between.
struct Fields : std::istringstream {
  using std::istringstream::istringstream;

  std::string text() {
    std::string hex, out;
    *this >> hex;
    for (size_t at = 1; at + 1 < hex.size(); at += 2) out += char(std::stoi(hex.substr(at, 2), nullptr, 16));
    return out;
  }
  uint64_t number() {
    uint64_t value = 0;
    *this >> value;
    return value;
  }
  std::vector<ReceivedTag> tags() {
    std::vector<ReceivedTag> tags(number());
    for (auto& tag : tags) tag = {text(), text(), text()};  // a braced list runs left to right
    return tags;
  }
};

const ReceivedTag* findTag(const std::vector<ReceivedTag>& tags, const std::string& key) {
  auto found = std::find_if(tags.begin(), tags.end(), [&](const ReceivedTag& t) { return t.key == key; });
  return found == tags.end() ? nullptr : &*found;
}

}  // namespace

const ReceivedTag* ReceivedSpan::tag(const std::string& key) const { return findTag(tags, key); }

const ReceivedTag* ReceivedSpan::processTag(const std::string& key) const { return findTag(processTags, key); }

AgentListener::AgentListener(int port, Record record)
    : _folder(L"Z:\\tmp\\kestrin-listener-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
              std::to_wstring(GetTickCount64())) {  // one thread constructs one in more than a tick
  if (!CreateDirectoryW(_folder.c_str(), nullptr)) throw std::runtime_error("cannot make the listener's folder");
  const std::string capture = "/usr/bin/python3 " KESTRIN_SOURCE_DIR "/tests/support/agent_capture.py --port " +
                              std::to_string(port) + (record == Record::EachSpan ? " --spans &" : " &");
  if (runLinuxShell(_folder, capture) != 0) throw std::runtime_error("cannot start the agent listener");
  // The first run of a machine generates the decoder from the IDL, which takes a few seconds.
  std::string ready;
  for (int i = 0; i < 600 && (ready = readBytes(_folder + L"\\ready")).empty(); ++i) Sleep(50);
  if (ready.empty()) throw std::runtime_error("the agent listener did not start in 30 s");
  _port = std::stoi(ready);
}

AgentListener::~AgentListener() {
  try {
    if (readBytes(_folder + L"\\summary").empty()) stop();
  } catch (const std::runtime_error&) {
  }
}

AgentSummary AgentListener::stop() {
  CloseHandle(CreateFileW((_folder + L"\\stop").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  std::string text;
  // The capture writes it once it has let the port go, which the next listener may need.
  for (int i = 0; i < 1200 && (text = readBytes(_folder + L"\\summary")).empty(); ++i) Sleep(50);
  if (text.empty()) throw std::runtime_error("the agent listener gave no summary");
  AgentSummary summary;
  Fields fields(text);
  fields >> summary.undecodable >> summary.spans >> summary.duplicates;
  for (std::string group; !(group = fields.text()).empty();) {
    const int64_t first = fields.number();
    summary.groups[group].emplace_back(first, fields.number());
  }
  return summary;
}

int64_t AgentSummary::missingBelow(const std::string& group, int64_t end) const {
  if (groups.count(group) == 0) return end;
  int64_t missing = end;
  for (const auto& [first, last] : groups.at(group)) {
    if (first < end) missing -= std::min(last + 1, end) - first;
  }
  return missing;
}

std::vector<ReceivedSpan> AgentListener::spans() const {
  const std::string text = readBytes(_folder + L"\\spans");
  // Not the last line while the capture is still writing it.
  Fields fields(text.substr(0, text.rfind('\n') + 1));
  std::vector<ReceivedSpan> result;
  for (ReceivedSpan span; fields >> span.datagram; result.push_back(span)) {
    span.service = fields.text();
    fields >> span.traceIdLow >> span.traceIdHigh >> span.spanId >> span.parentSpanId >> span.flags >>
        span.startTime >> span.duration;
    span.operationName = fields.text();
    span.processTags = fields.tags();
    span.tags = fields.tags();
    span.references.resize(fields.number());
    for (auto& reference : span.references) reference = {fields.text(), fields.number()};
    span.logs.resize(fields.number());
    for (auto& log : span.logs) log = fields.tags();
  }
  return result;
}

std::vector<ReceivedSpan> AgentListener::waitForSpans(size_t count, std::chrono::milliseconds timeout) const {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  auto received = spans();
  for (; received.size() < count && std::chrono::steady_clock::now() < deadline; received = spans()) Sleep(50);
  return received;
}

const ReceivedSpan* findSpan(const std::vector<ReceivedSpan>& spans, const std::string& operationName) {
  auto found = std::find_if(spans.begin(), spans.end(),
                            [&](const ReceivedSpan& span) { return span.operationName == operationName; });
  return found == spans.end() ? nullptr : &*found;
}

}  // namespace testsupport
