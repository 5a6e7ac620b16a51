#include "tests/support/AgentListener.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
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
    for (size_t at = 1; at + 1 < hex.size(); at += 2) out += static_cast<char>(std::stoi(hex.substr(at, 2), nullptr, 16));
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

std::atomic<int> listenerCount{0};

}  // namespace

const ReceivedTag* ReceivedSpan::tag(const std::string& key) const { return findTag(tags, key); }

const ReceivedTag* ReceivedSpan::processTag(const std::string& key) const { return findTag(processTags, key); }

AgentListener::AgentListener(int port, Record record)
    : _folder("/tmp/kestrin-listener-" + std::to_string(GetCurrentProcessId()) + "-" +
              std::to_string(++listenerCount) + "-" + std::to_string(GetTickCount64())) {
  const std::string arguments = " " KESTRIN_SOURCE_DIR "/tests/support/agent_capture.py --port " + std::to_string(port) +
                                " --folder " + _folder + (record == Record::EachSpan ? " --spans" : "");
  if (!startLinuxProgram(L"Z:\\usr\\bin\\python3" + std::wstring(arguments.begin(), arguments.end()))) {
    throw std::runtime_error("cannot start the agent listener: " + std::to_string(GetLastError()));
  }
  // The first run of a machine generates the decoder from the IDL, which takes a few seconds.
  std::string ready;
  for (int i = 0; i < 600 && (ready = readBytes(file("ready"))).empty(); ++i) Sleep(50);
  if (ready.empty()) throw std::runtime_error("the agent listener did not start in 30 s (" + _folder + ")");
  _port = std::stoi(ready);
}

std::wstring AgentListener::file(const char* name) const {
  const std::string path = _folder + "/" + name;  // Wine takes '/' as a separator too
  return L"Z:" + std::wstring(path.begin(), path.end());
}

AgentListener::~AgentListener() {
  try {
    if (!_stopped) stop();
  } catch (const std::runtime_error&) {
  }
}

AgentSummary AgentListener::stop() {
  _stopped = true;
  CloseHandle(CreateFileW(file("stop").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  std::string text;
  for (int i = 0; i < 1200 && (text = readBytes(file("summary"))).empty(); ++i) Sleep(50);
  // The next listener may need the same port: wait until this one has let it go.
  for (int i = 0; i < 100 && !readBytes(file("ready")).empty(); ++i) Sleep(50);
  if (text.empty()) throw std::runtime_error("the agent listener gave no summary (" + _folder + ")");
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
  const std::string text = readBytes(file("spans"));
  // Not the last line while the capture is still writing it.
  Fields fields(text.substr(0, text.rfind('\n') + 1));
  std::vector<ReceivedSpan> result;
  for (int64_t datagram = 0; fields >> datagram;) {
    ReceivedSpan& span = result.emplace_back();
    span.datagram = datagram;
    span.service = fields.text();
    for (uint64_t* id : {&span.traceIdLow, &span.traceIdHigh, &span.spanId, &span.parentSpanId}) *id = fields.number();
    for (int64_t* number : {&span.flags, &span.startTime, &span.duration}) *number = fields.number();
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
