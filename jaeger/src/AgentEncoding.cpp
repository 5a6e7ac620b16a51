#include "jaeger/src/AgentEncoding.h"

#include <cstring>

#include "jaeger/src/CompactWriter.h"

namespace jaegertracing {

namespace {

using W = CompactWriter;

constexpr const char* kMethod = "emitBatch";

// A SpanRef: type, trace id halves, span id, stop byte.
constexpr size_t kMaxReferenceBytes = 1 + 5 + 3 * W::kMaxI64Field + 1;

}  // namespace

// The span is written in the one layout its fields give it, every field header one byte since
// each id is less than 16 above the one before.
size_t maxSpanSize(const SpanRecord& span) {
  const size_t ids = 4 * W::kMaxI64Field, name = 1 + W::kMaxBinaryFraming + span.operationName.size(), flags = 1 + 5,
               times = 2 * W::kMaxI64Field, lists = 3 * W::kMaxListFraming + 1;
  return ids + name + flags + times + lists + span.references.size() * kMaxReferenceBytes + span.tags.bytes().size() +
         span.logs.bytes().size();
}

char* writeSpan(char* p, const SpanRecord& span) {
  p = W::putI64Field(p, 1, static_cast<int64_t>(span.traceId.low));
  p = W::putI64Field(p, 1, static_cast<int64_t>(span.traceId.high));
  p = W::putI64Field(p, 1, static_cast<int64_t>(span.spanId));
  p = W::putI64Field(p, 1, static_cast<int64_t>(span.parentId));
  *p++ = W::shortFieldHeader(1, W::kBinary);
  p = W::putBinary(p, span.operationName.view());
  int last = 5;
  if (!span.references.empty()) {
    *p++ = W::shortFieldHeader(1, W::kList);
    p = W::putListHeader(p, W::kStruct, static_cast<uint32_t>(span.references.size()));
    for (const auto& ref : span.references) {
      *p++ = W::shortFieldHeader(1, W::kI32);
      p = W::putVarint(p, W::zigzag(static_cast<int32_t>(ref.type)));
      p = W::putI64Field(p, 1, static_cast<int64_t>(ref.traceId.low));
      p = W::putI64Field(p, 1, static_cast<int64_t>(ref.traceId.high));
      p = W::putI64Field(p, 1, static_cast<int64_t>(ref.spanId));
      *p++ = 0;
    }
    last = 6;
  }
  *p++ = W::shortFieldHeader(7 - last, W::kI32);
  p = W::putVarint(p, W::zigzag(span.flags));
  p = W::putI64Field(p, 1, span.startMicros);
  p = W::putI64Field(p, 1, span.durationMicros);
  last = 9;
  if (!span.tags.empty()) {
    p = W::putStructListField(p, 10 - last, span.tags.count(), span.tags.bytes());
    last = 10;
  }
  if (!span.logs.empty()) p = W::putStructListField(p, 11 - last, span.logs.count(), span.logs.bytes());
  *p++ = 0;
  return p;
}

BatchEncoder::BatchEncoder(const Process& process) {
  // The message header (protocol id, version with the one-way type, sequence id 0, method),
  // the arguments' batch field, the batch's process field, the process, and the header of the
  // batch's spans field; each datagram adds the spans' list header.
  const opentracing::string_view tags = process.tags.bytes();
  _head.resize(3 + W::kMaxBinaryFraming + std::strlen(kMethod) + 3 + W::kMaxBinaryFraming +
               process.serviceName.size() + W::kMaxListFraming + tags.size() + 2);
  char* p = &_head[0];
  *p++ = static_cast<char>(0x82);
  *p++ = static_cast<char>(1 | (W::kOneway << 5));
  *p++ = 0;
  p = W::putBinary(p, kMethod);
  *p++ = W::shortFieldHeader(1, W::kStruct);  // emitBatch_args.batch
  *p++ = W::shortFieldHeader(1, W::kStruct);  // Batch.process
  *p++ = W::shortFieldHeader(1, W::kBinary);  // Process.serviceName
  p = W::putBinary(p, process.serviceName);
  if (!process.tags.empty()) p = W::putStructListField(p, 1, process.tags.count(), tags);
  *p++ = 0;
  *p++ = W::shortFieldHeader(1, W::kList);  // Batch.spans
  _head.resize(static_cast<size_t>(p - _head.data()));
  _maxSpanBytes = kMaxDatagram - datagramSize(1, 0);
}

std::array<opentracing::string_view, 4> BatchEncoder::datagram(char (&listHeader)[kMaxListHeader],
                                                               const char* spans, size_t spanBytes,
                                                               size_t spanCount) const {
  static const char kStops[2] = {0, 0};  // of the batch and of the arguments
  const char* end = W::putListHeader(listHeader, W::kStruct, static_cast<uint32_t>(spanCount));
  return {opentracing::string_view(_head), opentracing::string_view(listHeader, static_cast<size_t>(end - listHeader)),
          opentracing::string_view(spans, spanBytes), opentracing::string_view(kStops, sizeof kStops)};
}

}  // namespace jaegertracing
