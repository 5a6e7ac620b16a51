#pragma once
// The agent's wire format: Jaeger Thrift structs in the compact protocol, sent as one-way
// Agent.emitBatch messages, one batch a datagram.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "jaeger/src/CompactWriter.h"
#include "jaeger/src/SpanRecord.h"
#include "jaeger/src/Tag.h"

namespace jaegertracing {

struct Process {
  std::string serviceName;
  EncodedTags tags;
};

// The largest datagram the agent takes.
constexpr size_t kMaxDatagram = 65000;

// The most bytes writeSpan takes for span.
size_t maxSpanSize(const SpanRecord& span);
// Writes span as an element of the batch's span list at out, which has room for
// maxSpanSize(span) bytes; returns the end.
char* writeSpan(char* out, const SpanRecord& span);

// Builds emitBatch datagrams from encoded spans without re-encoding them.
class BatchEncoder {
 public:
  explicit BatchEncoder(const Process& process);

  // Bytes of a datagram holding these spans.
  size_t datagramSize(size_t spanCount, size_t spanBytes) const {
    return _head.size() + CompactWriter::listHeaderSize(static_cast<uint32_t>(spanCount)) + spanBytes + 2;
  }
  bool fits(size_t spanCount, size_t spanBytes) const { return datagramSize(spanCount, spanBytes) <= kMaxDatagram; }
  // The most bytes one encoded span may take to fit into a datagram alone.
  size_t maxSpanBytes() const { return _maxSpanBytes; }
  // The datagram of spanCount encoded spans that lie one after another at spans, in pieces to
  // be sent together: the head, the span list's header (written into listHeader), the spans
  // and the stop bytes. The spans are not copied.
  static constexpr size_t kMaxListHeader = 6;
  std::array<opentracing::string_view, 4> datagram(char (&listHeader)[kMaxListHeader], const char* spans,
                                                   size_t spanBytes, size_t spanCount) const;

 private:
  // Message header, args and batch struct begin, the whole process field and the header of the
  // spans field.
  std::string _head;
  size_t _maxSpanBytes;
};

}  // namespace jaegertracing
