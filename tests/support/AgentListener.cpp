#include "tests/support/AgentListener.h"

#include <algorithm>
#include <atomic>
#include <sstream>
#include <stdexcept>

#include <windows.h>

#include "tests/support/runProcess.h"

namespace testsupport {

namespace {

// The fields of one line the listener wrote, read in order: separated by tabs, with a string's
// backslash, tab and line break escaped.
class Fields {
 public:
  explicit Fields(const std::string& line) : _line(line) {}

  std::string text() {
    std::string out;
    for (; _at < _line.size() && _line[_at] != '\t'; ++_at) {
      char c = _line[_at];
      if (c == '\\' && _at + 1 < _line.size()) {
        c = _line[++_at];
        c = c == 't' ? '\t' : c == 'n' ? '\n' : c;
      }
      out += c;
    }
    ++_at;
    return out;
  }
  uint64_t number() { return std::stoull(text()); }
  std::vector<ReceivedTag> tags() {
    std::vector<ReceivedTag> tags(number());
    for (auto& tag : tags) {
      tag.key = text();
      tag.type = text();
      tag.value = text();
    }
    return tags;
  }

 private:
  const std::string& _line;
  size_t _at = 0;
};

ReceivedSpan spanOf(const std::string& line) {
  Fields fields(line);
  ReceivedSpan span;
  span.datagram = fields.number();
  span.service = fields.text();
  for (uint64_t* id : {&span.traceIdLow, &span.traceIdHigh, &span.spanId, &span.parentSpanId}) {
    *id = fields.number();
  }
  for (int64_t* number : {&span.flags, &span.startTime, &span.duration}) *number = fields.number();
  span.operationName = fields.text();
  span.processTags = fields.tags();
  span.tags = fields.tags();
  span.references.resize(fields.number());
  for (auto& reference : span.references) {
    reference.first = fields.text();
    reference.second = fields.number();
  }
  span.logs.resize(fields.number());
  for (auto& log : span.logs) log = fields.tags();
  return span;
}

// The Unix path as this Wine process names it.
std::wstring windowsPath(const std::string& unixPath) {
  std::wstring path = L"Z:";
  for (char c : unixPath) path += c == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(c));
  return path;
}

// A file the listener writes into the folder; empty while it does not exist.
std::string listenerFile(const std::string& folder, const char* name) {
  return readBytes(windowsPath(folder + "/" + name));
}

std::atomic<int> listenerCount{0};

const ReceivedTag* findTag(const std::vector<ReceivedTag>& tags, const std::string& key) {
  for (const auto& t : tags) {
    if (t.key == key) return &t;
  }
  return nullptr;
}

}  // namespace

const ReceivedTag* ReceivedSpan::tag(const std::string& key) const { return findTag(tags, key); }

const ReceivedTag* ReceivedSpan::processTag(const std::string& key) const { return findTag(processTags, key); }

AgentListener::AgentListener(int port, Record record)
    : _folder("/tmp/kestrin-listener-" + std::to_string(GetCurrentProcessId()) + "-" +
              std::to_string(++listenerCount) + "-" + std::to_string(GetTickCount64())) {
  if (!CreateDirectoryW(windowsPath(_folder).c_str(), nullptr)) {
    throw std::runtime_error("cannot create " + _folder + ": " + std::to_string(GetLastError()));
  }
  // A Linux program: its arguments are Unix paths.
  const std::string arguments = std::string(" " KESTRIN_SOURCE_DIR "/tests/support/agent_capture.py") +
                                " --max-seconds 300 --port " + std::to_string(port) + " --ready " + _folder +
                                "/ready --summary " + _folder + "/summary --stop-file " + _folder + "/stop" +
                                (record == Record::EachSpan ? " --spans " + _folder + "/spans" : "");
  if (!startLinuxProgram(L"Z:\\usr\\bin\\python3" + std::wstring(arguments.begin(), arguments.end()))) {
    throw std::runtime_error("cannot start the agent listener: " + std::to_string(GetLastError()));
  }
  // The first run of a machine generates the decoder from the IDL, which takes a few seconds.
  std::string ready;
  for (int i = 0; i < 600 && (ready = listenerFile(_folder, "ready")).empty(); ++i) Sleep(50);
  if (ready.empty()) throw std::runtime_error("the agent listener did not start in 30 s (" + _folder + ")");
  _port = std::stoi(ready);
}

AgentListener::~AgentListener() {
  if (_stopped) return;
  try {
    stop();
  } catch (const std::runtime_error&) {
  }
}

AgentSummary AgentListener::stop() {
  _stopped = true;
  HANDLE stop = CreateFileW(windowsPath(_folder + "/stop").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (stop != INVALID_HANDLE_VALUE) CloseHandle(stop);
  std::string text;
  for (int i = 0; i < 1200 && (text = listenerFile(_folder, "summary")).empty(); ++i) Sleep(50);
  // The next listener may need the same port: wait until this one has let it go.
  for (int i = 0; i < 100 && !listenerFile(_folder, "ready").empty(); ++i) Sleep(50);
  if (text.empty()) throw std::runtime_error("the agent listener gave no summary (" + _folder + ")");
  AgentSummary summary;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    Fields fields(line);
    const std::string key = fields.text();
    // A group's line names it; a count's line is named by its key.
    const std::string name = key == "group" ? fields.text() : key;
    const int64_t count = fields.number();
    if (key == "group") summary.groups[name].emplace_back(count, fields.number());
    if (key == "undecodable") summary.undecodable = count;
    if (key == "spans") summary.spans = count;
    if (key == "duplicates") summary.duplicates = count;
  }
  return summary;
}

int64_t AgentSummary::missingBelow(const std::string& group, int64_t end) const {
  int64_t present = 0;
  auto found = groups.find(group);
  if (found != groups.end()) {
    for (const auto& range : found->second) {
      if (range.first < end) present += std::min(range.second + 1, end) - range.first;
    }
  }
  return end - present;
}

std::vector<ReceivedSpan> AgentListener::spans() const {
  std::istringstream lines(listenerFile(_folder, "spans"));
  std::vector<ReceivedSpan> result;
  // Not the last line while the listener is still writing it.
  for (std::string line; std::getline(lines, line) && !lines.eof();) result.push_back(spanOf(line));
  return result;
}

std::vector<ReceivedSpan> AgentListener::waitForSpans(size_t count, std::chrono::milliseconds timeout) const {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    auto received = spans();
    if (received.size() >= count || std::chrono::steady_clock::now() >= deadline) return received;
    Sleep(50);
  }
}

const ReceivedSpan* findSpan(const std::vector<ReceivedSpan>& spans, const std::string& operationName) {
  for (const auto& span : spans) {
    if (span.operationName == operationName) return &span;
  }
  return nullptr;
}

}  // namespace testsupport
