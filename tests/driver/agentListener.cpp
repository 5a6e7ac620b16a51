#include "tests/driver/agentListener.h"

#include <windows.h>

#include <cstdlib>
#include <fstream>
#include <stdexcept>

namespace {

// The listener's paths are ASCII, so the narrow and the wide forms have the same characters.
std::string windowsPath(const std::string& linuxPath) {
  std::string path = "Z:";
  for (char c : linuxPath) path += c == '/' ? '\\' : c;
  return path;
}

std::wstring wide(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

bool exists(const std::string& linuxPath) {
  return GetFileAttributesW(wide(windowsPath(linuxPath)).c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Just enough JSON for the listener's lines: objects, arrays, strings without escapes beyond
// the simple ones, numbers, true, false and null. Scalars are kept as their JSON text.
class JsonReader {
 public:
  explicit JsonReader(const std::string& text) : text_(text) {}

  // Calls member(key, reader) for each member of the object at the current position.
  template <class Member>
  void object(Member member) {
    expect('{');
    if (peek() == '}') {
      ++pos_;
      return;
    }
    for (;;) {
      const std::string key = string();
      expect(':');
      member(key, *this);
      if (peek() == ',') {
        ++pos_;
        continue;
      }
      expect('}');
      return;
    }
  }

  template <class Item>
  void array(Item item) {
    expect('[');
    if (peek() == ']') {
      ++pos_;
      return;
    }
    for (;;) {
      item(*this);
      if (peek() == ',') {
        ++pos_;
        continue;
      }
      expect(']');
      return;
    }
  }

  std::string string() {
    expect('"');
    std::string value;
    while (pos_ < text_.size() && text_[pos_] != '"') {
      if (text_[pos_] == '\\' && pos_ + 1 < text_.size()) ++pos_;
      value += text_[pos_++];
    }
    ++pos_;
    return value;
  }

  // Any value, as its JSON text.
  std::string value() {
    const char c = peek();
    const size_t start = pos_;
    if (c == '{') {
      object([](const std::string&, JsonReader& r) { r.value(); });
    } else if (c == '[') {
      array([](JsonReader& r) { r.value(); });
    } else if (c == '"') {
      string();
    } else {
      while (pos_ < text_.size() && std::string(",}] \t").find(text_[pos_]) == std::string::npos) ++pos_;
    }
    return text_.substr(start, pos_ - start);
  }

 private:
  char peek() {
    while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t')) ++pos_;
    return pos_ < text_.size() ? text_[pos_] : '\0';
  }
  void expect(char c) {
    if (peek() != c) throw std::runtime_error("unexpected JSON at " + std::to_string(pos_));
    ++pos_;
  }

  const std::string& text_;
  size_t pos_ = 0;
};

SpanRecord parseSpan(const std::string& line) {
  SpanRecord span;
  JsonReader reader(line);
  reader.object([&](const std::string& key, JsonReader& r) {
    if (key == "service") {
      span.service = r.string();
    } else if (key == "operationName") {
      span.operationName = r.string();
    } else if (key == "traceIdLow") {
      span.traceIdLow = std::strtoull(r.value().c_str(), nullptr, 10);
    } else if (key == "spanId") {
      span.spanId = std::strtoull(r.value().c_str(), nullptr, 10);
    } else if (key == "parentSpanId") {
      span.parentSpanId = std::strtoull(r.value().c_str(), nullptr, 10);
    } else if (key == "tags") {
      r.array([&](JsonReader& item) {
        std::string name;
        std::string value;
        item.object([&](const std::string& field, JsonReader& f) {
          if (field == "key") {
            name = f.string();
          } else if (field == "value") {
            value = f.value();
          } else {
            f.value();
          }
        });
        span.tags[name] = value;
      });
    } else {
      r.value();
    }
  });
  return span;
}

}  // namespace

AgentListener::AgentListener() {
  folder_ = "/tmp/kestrin_driver_agent_" + std::to_string(GetCurrentProcessId()) + "_" + std::to_string(GetTickCount());
  CreateDirectoryW(wide(windowsPath(folder_)).c_str(), nullptr);
  // The listener is a Linux program: its arguments are Linux paths.
  const std::string arguments = KESTRIN_SOURCE_DIR "/tools/agent/agent_listener.py --port 6831 --quiet --ready " +
                                folder_ + "/ready --json " + folder_ + "/spans.jsonl --stop-file " + folder_ +
                                "/stop --max-seconds 300";
  std::wstring commandLine = L"Z:\\usr\\bin\\python3 " + wide(arguments);
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    return;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  for (int i = 0; i < 600 && !ready_; ++i) {
    ready_ = exists(folder_ + "/ready");
    if (!ready_) Sleep(100);
  }
}

AgentListener::~AgentListener() {
  std::ofstream(windowsPath(folder_ + "/stop")).put('\n');
  // The listener polls for the stop file ten times a second; let it close its files first.
  Sleep(300);
  for (const char* name : {"/ready", "/spans.jsonl", "/stop"}) DeleteFileW(wide(windowsPath(folder_ + name)).c_str());
  RemoveDirectoryW(wide(windowsPath(folder_)).c_str());
}

std::vector<SpanRecord> AgentListener::spans(size_t count) const {
  std::vector<SpanRecord> result;
  for (int i = 0; i < 600; ++i) {
    result.clear();
    std::ifstream file(windowsPath(folder_ + "/spans.jsonl"));
    std::string line;
    bool whole = true;
    while (whole && std::getline(file, line)) {
      try {
        if (!line.empty()) result.push_back(parseSpan(line));
      } catch (const std::runtime_error&) {
        whole = false;  // a line the listener is still writing
      }
    }
    if (whole && result.size() >= count) return result;
    Sleep(100);
  }
  return result;
}

std::vector<SpanRecord> named(const std::vector<SpanRecord>& spans, const std::string& prefix) {
  std::vector<SpanRecord> result;
  for (const SpanRecord& span : spans) {
    if (span.operationName.compare(0, prefix.size(), prefix) == 0) result.push_back(span);
  }
  return result;
}
