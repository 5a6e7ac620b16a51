#include "tests/support/AgentListener.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include <windows.h>

namespace testsupport {

namespace {

class JsonParser {
 public:
  explicit JsonParser(const std::string& text) : _text(text) {}

  Json document() {
    Json value = parseValue();
    skipSpace();
    if (_at != _text.size()) fail("trailing characters");
    return value;
  }

 private:
  [[noreturn]] void fail(const char* what) {
    throw std::runtime_error(std::string("bad JSON from the listener: ") + what + " at " + std::to_string(_at));
  }
  void skipSpace() {
    while (_at < _text.size() && std::isspace(static_cast<unsigned char>(_text[_at]))) ++_at;
  }
  bool consume(const char* word) {
    size_t n = std::char_traits<char>::length(word);
    if (_text.compare(_at, n, word) != 0) return false;
    _at += n;
    return true;
  }
  char next() {
    if (_at >= _text.size()) fail("unexpected end");
    return _text[_at++];
  }

  Json parseValue() {
    skipSpace();
    Json value;
    if (_at >= _text.size()) fail("unexpected end");
    char c = _text[_at];
    if (c == '{') {
      value.kind = Json::Kind::Object;
      ++_at;
      skipSpace();
      if (consume("}")) return value;
      do {
        skipSpace();
        std::string key = parseString();
        skipSpace();
        if (next() != ':') fail("':' expected");
        value.members[key] = parseValue();
        skipSpace();
      } while (consume(","));
      if (next() != '}') fail("'}' expected");
    } else if (c == '[') {
      value.kind = Json::Kind::Array;
      ++_at;
      skipSpace();
      if (consume("]")) return value;
      do {
        value.items.push_back(parseValue());
        skipSpace();
      } while (consume(","));
      if (next() != ']') fail("']' expected");
    } else if (c == '"') {
      value.kind = Json::Kind::String;
      value.text = parseString();
    } else if (consume("true")) {
      value.kind = Json::Kind::Bool;
      value.flag = true;
    } else if (consume("false")) {
      value.kind = Json::Kind::Bool;
    } else if (consume("null")) {
    } else {
      size_t start = _at;
      while (_at < _text.size() && std::strchr("+-0123456789.eE", _text[_at])) ++_at;
      if (start == _at) fail("value expected");
      value.kind = Json::Kind::Number;
      value.text = _text.substr(start, _at - start);
    }
    return value;
  }

  std::string parseString() {
    if (next() != '"') fail("'\"' expected");
    std::string out;
    for (;;) {
      char c = next();
      if (c == '"') return out;
      if (c != '\\') {
        out += c;
        continue;
      }
      char e = next();
      switch (e) {
        case 'n': out += '\n'; break;
        case 't': out += '\t'; break;
        case 'r': out += '\r'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'u': {
          unsigned code = static_cast<unsigned>(std::stoul(_text.substr(_at, 4), nullptr, 16));
          _at += 4;
          if (code >= 0xd800 && code < 0xdc00 && consume("\\u")) {
            unsigned low = static_cast<unsigned>(std::stoul(_text.substr(_at, 4), nullptr, 16));
            _at += 4;
            code = 0x10000 + ((code - 0xd800) << 10) + (low - 0xdc00);
          }
          appendUtf8(out, code);
          break;
        }
        default: out += e;
      }
    }
  }

  static void appendUtf8(std::string& out, unsigned code) {
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xc0 | (code >> 6));
      out += static_cast<char>(0x80 | (code & 0x3f));
    } else if (code < 0x10000) {
      out += static_cast<char>(0xe0 | (code >> 12));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3f));
      out += static_cast<char>(0x80 | (code & 0x3f));
    } else {
      out += static_cast<char>(0xf0 | (code >> 18));
      out += static_cast<char>(0x80 | ((code >> 12) & 0x3f));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3f));
      out += static_cast<char>(0x80 | (code & 0x3f));
    }
  }

  const std::string& _text;
  size_t _at = 0;
};

std::vector<ReceivedTag> tagsOf(const Json& list) {
  std::vector<ReceivedTag> tags;
  for (const auto& item : list.items) tags.push_back({item["key"].text, item["type"].text, item["value"]});
  return tags;
}

ReceivedSpan spanOf(const Json& json) {
  ReceivedSpan span;
  span.service = json["service"].text;
  span.processTags = tagsOf(json["processTags"]);
  span.traceIdLow = json["traceIdLow"].asUnsigned();
  span.traceIdHigh = json["traceIdHigh"].asUnsigned();
  span.spanId = json["spanId"].asUnsigned();
  span.parentSpanId = json["parentSpanId"].asUnsigned();
  span.operationName = json["operationName"].text;
  span.flags = static_cast<int32_t>(json["flags"].asInt());
  span.startTime = json["startTime"].asInt();
  span.duration = json["duration"].asInt();
  span.tags = tagsOf(json["tags"]);
  span.references = json["references"];
  span.logs = json["logs"];
  span.datagram = json["datagram"].asInt();
  return span;
}

// The Unix path as this Wine process names it.
std::wstring windowsPath(const std::string& unixPath) {
  std::wstring path = L"Z:";
  for (char c : unixPath) path += c == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(c));
  return path;
}

bool readFile(const std::string& unixPath, std::string& content) {
  std::ifstream in(windowsPath(unixPath).c_str(), std::ios::binary);
  if (!in) return false;
  std::ostringstream text;
  text << in.rdbuf();
  content = text.str();
  return true;
}

std::atomic<int> listenerCount{0};

const ReceivedTag* findTag(const std::vector<ReceivedTag>& tags, const std::string& key) {
  for (const auto& t : tags) {
    if (t.key == key) return &t;
  }
  return nullptr;
}

}  // namespace

Json Json::parse(const std::string& text) { return JsonParser(text).document(); }

const Json& Json::operator[](const std::string& key) const {
  static const Json null;
  auto it = members.find(key);
  return it == members.end() ? null : it->second;
}

int64_t Json::asInt() const { return kind == Kind::Number ? std::stoll(text) : 0; }

uint64_t Json::asUnsigned() const { return kind == Kind::Number ? std::stoull(text) : 0; }

double Json::asDouble() const { return kind == Kind::Number ? std::stod(text) : 0; }

const ReceivedTag* ReceivedSpan::tag(const std::string& key) const { return findTag(tags, key); }

const ReceivedTag* ReceivedSpan::processTag(const std::string& key) const { return findTag(processTags, key); }

AgentListener::AgentListener(int port, Record record) {
  _folder = "/tmp/kestrin-listener-" + std::to_string(GetCurrentProcessId()) + "-" +
            std::to_string(++listenerCount) + "-" + std::to_string(GetTickCount64());
  if (!CreateDirectoryW(windowsPath(_folder).c_str(), nullptr)) {
    throw std::runtime_error("cannot create " + _folder + ": " + std::to_string(GetLastError()));
  }
  // The listener is a Linux program: Wine hands it its arguments as they stand, so they are
  // Unix paths.
  const std::string arguments = std::string(" " KESTRIN_SOURCE_DIR "/tests/support/agent_capture.py") +
                                " --max-seconds 300 --port " + std::to_string(port) + " --ready " + _folder +
                                "/ready --summary " + _folder + "/summary.json --stop-file " + _folder + "/stop" +
                                (record == Record::EachSpan ? " --json " + _folder + "/spans.jsonl" : "");
  std::wstring command = L"Z:\\usr\\bin\\python3" + std::wstring(arguments.begin(), arguments.end());
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    throw std::runtime_error("cannot start the agent listener: " + std::to_string(GetLastError()));
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  // The first run of a machine generates the decoder from the IDL, which takes a few seconds.
  for (int i = 0; i < 600; ++i) {
    std::string ready;
    if (readFile(_folder + "/ready", ready) && !ready.empty() && ready.back() == '\n') {
      _port = std::stoi(ready);
      return;
    }
    Sleep(50);
  }
  throw std::runtime_error("the agent listener did not start within 30 s (" + _folder + ")");
}

AgentListener::~AgentListener() {
  if (_stopped) return;
  requestStop();
  waitUntilClosed();
}

void AgentListener::requestStop() const {
  HANDLE stop = CreateFileW(windowsPath(_folder + "/stop").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (stop != INVALID_HANDLE_VALUE) CloseHandle(stop);
}

// The next listener may need the same port: wait until this one has let it go.
void AgentListener::waitUntilClosed() const {
  std::string ready;
  for (int i = 0; i < 100 && readFile(_folder + "/ready", ready); ++i) Sleep(50);
}

AgentSummary AgentListener::stop() {
  requestStop();
  std::string text;
  for (int i = 0; i < 1200 && !readFile(_folder + "/summary.json", text); ++i) Sleep(50);
  waitUntilClosed();
  _stopped = true;
  if (text.empty()) throw std::runtime_error("the agent listener gave no summary (" + _folder + ")");
  const Json json = Json::parse(text);
  AgentSummary summary;
  summary.datagrams = json["datagrams"].asInt();
  summary.undecodable = json["undecodable"].asInt();
  summary.spans = json["spans"].asInt();
  summary.largest = json["largest"].asInt();
  summary.duplicates = json["duplicates"].asInt();
  for (const auto& service : json["services"].members) summary.services[service.first] = service.second.asInt();
  for (const auto& group : json["groups"].members) {
    auto& ranges = summary.groups[group.first];
    for (const auto& range : group.second.items) ranges.emplace_back(range.items[0].asInt(), range.items[1].asInt());
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
  std::string content;
  std::vector<ReceivedSpan> result;
  if (!readFile(_folder + "/spans.jsonl", content)) return result;
  size_t start = 0;
  for (size_t end; (end = content.find('\n', start)) != std::string::npos; start = end + 1) {
    result.push_back(spanOf(Json::parse(content.substr(start, end - start))));
  }
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

std::vector<ReceivedSpan> AgentListener::settle(std::chrono::milliseconds quiet) const {
  auto received = spans();
  auto lastChange = std::chrono::steady_clock::now();
  while (std::chrono::steady_clock::now() - lastChange < quiet) {
    Sleep(100);
    auto now = spans();
    if (now.size() != received.size()) {
      received = std::move(now);
      lastChange = std::chrono::steady_clock::now();
    }
  }
  return received;
}

const ReceivedSpan* findSpan(const std::vector<ReceivedSpan>& spans, const std::string& operationName) {
  for (const auto& span : spans) {
    if (span.operationName == operationName) return &span;
  }
  return nullptr;
}

}  // namespace testsupport
