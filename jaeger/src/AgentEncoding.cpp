#include "jaeger/src/AgentEncoding.h"

#include "jaeger/src/CompactWriter.h"

namespace jaegertracing {

namespace {

void writeI64(CompactWriter& w, int16_t field, int64_t value) {
  w.fieldBegin(field, CompactWriter::kI64);
  w.i64(value);
}

// A list field of structs already encoded one after another.
void writeStructList(CompactWriter& w, int16_t field, uint32_t count, opentracing::string_view structs) {
  w.fieldBegin(field, CompactWriter::kList);
  w.listBegin(CompactWriter::kStruct, count);
  w.raw(structs.data(), structs.size());
}

constexpr const char* kMethod = "emitBatch";

}  // namespace

void writeSpan(CompactWriter& w, const SpanRecord& span) {
  w.structBegin();
  writeI64(w, 1, static_cast<int64_t>(span.traceId.low));
  writeI64(w, 2, static_cast<int64_t>(span.traceId.high));
  writeI64(w, 3, static_cast<int64_t>(span.spanId));
  writeI64(w, 4, static_cast<int64_t>(span.parentId));
  w.fieldBegin(5, CompactWriter::kBinary);
  w.string(span.operationName.view());
  if (!span.references.empty()) {
    w.fieldBegin(6, CompactWriter::kList);
    w.listBegin(CompactWriter::kStruct, static_cast<uint32_t>(span.references.size()));
    for (const auto& ref : span.references) {
      w.structBegin();
      w.fieldBegin(1, CompactWriter::kI32);
      w.i32(static_cast<int32_t>(ref.type));
      writeI64(w, 2, static_cast<int64_t>(ref.traceId.low));
      writeI64(w, 3, static_cast<int64_t>(ref.traceId.high));
      writeI64(w, 4, static_cast<int64_t>(ref.spanId));
      w.structEnd();
    }
  }
  w.fieldBegin(7, CompactWriter::kI32);
  w.i32(span.flags);
  writeI64(w, 8, span.startMicros);
  writeI64(w, 9, span.durationMicros);
  if (!span.tags.empty()) writeStructList(w, 10, span.tags.count(), span.tags.bytes());
  if (!span.logs.empty()) writeStructList(w, 11, span.logs.count(), span.logs.bytes());
  w.structEnd();
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
  if (!process.tags.empty()) writeStructList(w, 2, process.tags.count(), process.tags.bytes());
  w.structEnd();
}

size_t BatchEncoder::datagramSize(size_t spanCount, size_t spanBytes) const {
  // Head, the spans field header (1 byte: delta 1), the list header, the spans, two stop bytes.
  return _head.size() + 1 + CompactWriter::listHeaderSize(static_cast<uint32_t>(spanCount)) + spanBytes + 2;
}

size_t BatchEncoder::maxSpanBytes() const { return kMaxDatagram - datagramSize(1, 0); }

void BatchEncoder::datagram(std::string& out, const char* spans, size_t spanBytes, size_t spanCount) const {
  out.reserve(datagramSize(spanCount, spanBytes));
  out.assign(_head);
  CompactWriter w(out);
  w.structResume(1);  // emitBatch_args, inside its batch field
  w.structResume(1);  // Batch, after its process field
  w.fieldBegin(2, CompactWriter::kList);
  w.listBegin(CompactWriter::kStruct, static_cast<uint32_t>(spanCount));
  w.raw(spans, spanBytes);
  w.structEnd();
  w.structEnd();
}

}  // namespace jaegertracing
