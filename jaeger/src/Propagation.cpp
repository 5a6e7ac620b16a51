#include "jaeger/src/Propagation.h"

#include <algorithm>
#include <cctype>
#include <istream>
#include <ostream>
#include <string>

namespace jaegertracing {

namespace {

using opentracing::string_view;

bool equalsIgnoringCase(string_view a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.data(), a.data() + a.size(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

bool startsWithIgnoringCase(string_view text, const std::string& prefix) {
  return text.size() >= prefix.size() && equalsIgnoringCase(string_view(text.data(), prefix.size()), prefix);
}

std::string urlEncode(string_view text) {
  static const char* digits = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += digits[c >> 4];
      out += digits[c & 15];
    }
  }
  return out;
}

std::string urlDecode(string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
        std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
      out += static_cast<char>(std::stoi(std::string(text.data() + i + 1, 2), nullptr, 16));
      i += 2;
    } else if (text[i] == '+') {
      out += ' ';
    } else {
      out += text[i];
    }
  }
  return out;
}

std::string trim(const std::string& text) {
  size_t begin = text.find_first_not_of(" \t");
  if (begin == std::string::npos) return std::string();
  size_t end = text.find_last_not_of(" \t");
  return text.substr(begin, end - begin + 1);
}

// "k1=v1, k2=v2"; items without "=" are skipped.
void addBaggageList(const std::string& list, SpanContext::Baggage& baggage) {
  size_t start = 0;
  while (start <= list.size()) {
    size_t end = list.find(',', start);
    if (end == std::string::npos) end = list.size();
    std::string item = list.substr(start, end - start);
    size_t equals = item.find('=');
    if (equals != std::string::npos) baggage[trim(item.substr(0, equals))] = trim(item.substr(equals + 1));
    start = end + 1;
  }
}

void writeBigEndian(std::ostream& out, uint64_t value, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) out.put(static_cast<char>((value >> (8 * i)) & 0xff));
}

bool readBigEndian(std::istream& in, uint64_t& value, int bytes) {
  value = 0;
  for (int i = 0; i < bytes; ++i) {
    int c = in.get();
    if (c == std::char_traits<char>::eof()) return false;
    value = (value << 8) | static_cast<uint64_t>(c);
  }
  return true;
}

// Baggage in a binary carrier is bounded so that a corrupt length cannot exhaust memory.
constexpr uint64_t kMaxBinaryBaggageItems = 4096;
constexpr uint64_t kMaxBinaryText = 1 << 20;

bool readText(std::istream& in, std::string& text) {
  uint64_t size;
  if (!readBigEndian(in, size, 4) || size > kMaxBinaryText) return false;
  text.resize(static_cast<size_t>(size));
  return size == 0 || in.read(&text[0], static_cast<std::streamsize>(size)).gcount() == static_cast<std::streamsize>(size);
}

}  // namespace

opentracing::expected<void> injectText(const SpanContext& context, const opentracing::TextMapWriter& writer,
                                       const propagation::HeadersConfig& headers, TextFormat format) {
  const bool encode = format == TextFormat::HttpHeaders;
  // Formatted on the stack: an injection is often on the path of every call to another process.
  char buffer[SpanContext::kMaxTextSize];
  const string_view text(buffer, context.writeText(buffer));
  auto result = encode ? writer.Set(headers.traceContextHeaderName(), urlEncode(text))
                       : writer.Set(headers.traceContextHeaderName(), text);
  if (!result) return result;
  for (const auto& item : context.baggage()) {
    result = writer.Set(headers.traceBaggageHeaderPrefix() + item.first, encode ? urlEncode(item.second) : item.second);
    if (!result) return result;
  }
  return {};
}

opentracing::expected<std::unique_ptr<opentracing::SpanContext>> extractText(
    const opentracing::TextMapReader& reader, const propagation::HeadersConfig& headers, TextFormat format) {
  const bool decode = format == TextFormat::HttpHeaders;
  SpanContext parsed;
  bool found = false;
  bool corrupted = false;
  std::string debugId;
  SpanContext::Baggage baggage;
  auto status = reader.ForeachKey([&](string_view key, string_view value) -> opentracing::expected<void> {
    std::string text = decode ? urlDecode(value) : std::string(value.data(), value.size());
    if (equalsIgnoringCase(key, headers.traceContextHeaderName())) {
      found = true;
      if (!SpanContext::fromText(text, parsed)) corrupted = true;
    } else if (equalsIgnoringCase(key, headers.jaegerDebugHeader())) {
      debugId = text;
    } else if (equalsIgnoringCase(key, headers.jaegerBaggageHeader())) {
      addBaggageList(text, baggage);
    } else if (startsWithIgnoringCase(key, headers.traceBaggageHeaderPrefix())) {
      std::string name(key.data() + headers.traceBaggageHeaderPrefix().size(),
                       key.size() - headers.traceBaggageHeaderPrefix().size());
      // Header names arrive in any letter case; baggage keys are kept in lower case for them.
      if (decode) {
        std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
      }
      baggage[name] = text;
    }
    return {};
  });
  if (!status) return opentracing::make_unexpected(status.error());
  if (corrupted) return opentracing::make_unexpected(opentracing::span_context_corrupted_error);
  if (!found && debugId.empty() && baggage.empty()) return std::unique_ptr<opentracing::SpanContext>();
  std::unique_ptr<SpanContext> context(found ? new SpanContext(parsed.traceId(), parsed.spanId(), parsed.parentId(),
                                                               parsed.flags(), std::move(baggage), debugId)
                                             : new SpanContext(TraceId(), 0, 0, 0, std::move(baggage), debugId));
  return std::unique_ptr<opentracing::SpanContext>(std::move(context));
}

opentracing::expected<void> injectBinary(const SpanContext& context, std::ostream& out) {
  writeBigEndian(out, context.traceId().high, 8);
  writeBigEndian(out, context.traceId().low, 8);
  writeBigEndian(out, context.spanId(), 8);
  writeBigEndian(out, context.parentId(), 8);
  out.put(static_cast<char>(context.flags()));
  const auto baggage = context.baggage();
  writeBigEndian(out, baggage.size(), 4);
  for (const auto& item : baggage) {
    writeBigEndian(out, item.first.size(), 4);
    out.write(item.first.data(), static_cast<std::streamsize>(item.first.size()));
    writeBigEndian(out, item.second.size(), 4);
    out.write(item.second.data(), static_cast<std::streamsize>(item.second.size()));
  }
  out.flush();
  if (!out) return opentracing::make_unexpected(std::make_error_code(std::errc::io_error));
  return {};
}

opentracing::expected<std::unique_ptr<opentracing::SpanContext>> extractBinary(std::istream& in) {
  if (in.peek() == std::char_traits<char>::eof()) return std::unique_ptr<opentracing::SpanContext>();
  TraceId traceId;
  uint64_t spanId, parentId, flags, count;
  if (!readBigEndian(in, traceId.high, 8) || !readBigEndian(in, traceId.low, 8) || !readBigEndian(in, spanId, 8) ||
      !readBigEndian(in, parentId, 8) || !readBigEndian(in, flags, 1) || !readBigEndian(in, count, 4) ||
      count > kMaxBinaryBaggageItems || !traceId.isValid() || spanId == 0) {
    return opentracing::make_unexpected(opentracing::span_context_corrupted_error);
  }
  SpanContext::Baggage baggage;
  for (uint64_t i = 0; i < count; ++i) {
    std::string key, value;
    if (!readText(in, key) || !readText(in, value)) {
      return opentracing::make_unexpected(opentracing::span_context_corrupted_error);
    }
    baggage[key] = value;
  }
  return std::unique_ptr<opentracing::SpanContext>(
      new SpanContext(traceId, spanId, parentId, static_cast<uint8_t>(flags), std::move(baggage)));
}

}  // namespace jaegertracing
