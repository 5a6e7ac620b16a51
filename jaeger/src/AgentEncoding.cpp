#include "jaeger/src/AgentEncoding.h"

#include "jaeger/src/CompactWriter.h"

namespace jaegertracing {

namespace {

void writeTag(CompactWriter& w, const Tag& tag) {
  w.structBegin();
  w.fieldBegin(1, CompactWriter::kBinary);
  w.string(tag.key);
  w.fieldBegin(2, CompactWriter::kI32);
  w.i32(static_cast<int32_t>(tag.type));
  switch (tag.type) {
    case Tag::Type::String:
      w.fieldBegin(3, CompactWriter::kBinary);
      w.string(tag.text);
      break;
    case Tag::Type::Double:
      w.fieldBegin(4, CompactWriter::kDouble);
      w.dbl(tag.number);
      break;
    case Tag::Type::Bool:
      w.fieldBool(5, tag.flag);
      break;
    case Tag::Type::Long:
      w.fieldBegin(6, CompactWriter::kI64);
      w.i64(tag.integer);
      break;
  }
  w.structEnd();
}

void writeTagList(CompactWriter& w, int16_t field, const Tags& tags) {
  w.fieldBegin(field, CompactWriter::kList);
  w.listBegin(CompactWriter::kStruct, static_cast<uint32_t>(tags.size()));
  for (const auto& tag : tags) writeTag(w, tag);
}

constexpr const char* kMethod = "emitBatch";

}  // namespace

std::string encodeSpan(const SpanRecord& span) {
  std::string out;
  CompactWriter w(out);
  w.structBegin();
  w.fieldBegin(1, CompactWriter::kI64);
  w.i64(static_cast<int64_t>(span.traceId.low));
  w.fieldBegin(2, CompactWriter::kI64);
  w.i64(static_cast<int64_t>(span.traceId.high));
  w.fieldBegin(3, CompactWriter::kI64);
  w.i64(static_cast<int64_t>(span.spanId));
  w.fieldBegin(4, CompactWriter::kI64);
  w.i64(static_cast<int64_t>(span.parentId));
  w.fieldBegin(5, CompactWriter::kBinary);
  w.string(span.operationName);
  if (!span.references.empty()) {
    w.fieldBegin(6, CompactWriter::kList);
    w.listBegin(CompactWriter::kStruct, static_cast<uint32_t>(span.references.size()));
    for (const auto& ref : span.references) {
      w.structBegin();
      w.fieldBegin(1, CompactWriter::kI32);
      w.i32(static_cast<int32_t>(ref.type));
      w.fieldBegin(2, CompactWriter::kI64);
      w.i64(static_cast<int64_t>(ref.traceId.low));
      w.fieldBegin(3, CompactWriter::kI64);
      w.i64(static_cast<int64_t>(ref.traceId.high));
      w.fieldBegin(4, CompactWriter::kI64);
      w.i64(static_cast<int64_t>(ref.spanId));
      w.structEnd();
    }
  }
  w.fieldBegin(7, CompactWriter::kI32);
  w.i32(span.flags);
  w.fieldBegin(8, CompactWriter::kI64);
  w.i64(span.startMicros);
  w.fieldBegin(9, CompactWriter::kI64);
  w.i64(span.durationMicros);
  if (!span.tags.empty()) writeTagList(w, 10, span.tags);
  if (!span.logs.empty()) {
    w.fieldBegin(11, CompactWriter::kList);
    w.listBegin(CompactWriter::kStruct, static_cast<uint32_t>(span.logs.size()));
    for (const auto& log : span.logs) {
      w.structBegin();
      w.fieldBegin(1, CompactWriter::kI64);
      w.i64(std::chrono::duration_cast<std::chrono::microseconds>(log.timestamp.time_since_epoch()).count());
      writeTagList(w, 2, log.fields);
      w.structEnd();
    }
  }
  w.structEnd();
  return out;
}

BatchEncoder::BatchEncoder(const Process& process) {
  CompactWriter w(_head);
  w.messageBegin(kMethod, CompactWriter::kOneway, 0);
  w.structBegin();  // emitBatch_args
  w.fieldBegin(1, CompactWriter::kStruct);
  w.structBegin();  // Batch
  w.fieldBegin(1, CompactWriter::kStruct);
  w.structBegin();  // Process
  w.fieldBegin(1, CompactWriter::kBinary);
  w.string(process.serviceName);
  if (!process.tags.empty()) writeTagList(w, 2, process.tags);
  w.structEnd();
}

size_t BatchEncoder::datagramSize(size_t spanCount, size_t spanBytes) const {
  // Head, the spans field header (1 byte: delta 1), the list header, the spans, two stop bytes.
  return _head.size() + 1 + CompactWriter::listHeaderSize(static_cast<uint32_t>(spanCount)) + spanBytes + 2;
}

std::string BatchEncoder::datagram(const std::vector<std::string>& spans) const {
  size_t spanBytes = 0;
  for (const auto& span : spans) spanBytes += span.size();
  std::string out;
  out.reserve(datagramSize(spans.size(), spanBytes));
  out = _head;
  CompactWriter w(out);
  w.structResume(1);  // emitBatch_args, inside its batch field
  w.structResume(1);  // Batch, after its process field
  w.fieldBegin(2, CompactWriter::kList);
  w.listBegin(CompactWriter::kStruct, static_cast<uint32_t>(spans.size()));
  for (const auto& span : spans) out += span;
  w.structEnd();
  w.structEnd();
  return out;
}

}  // namespace jaegertracing
