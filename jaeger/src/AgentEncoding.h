#pragma once
// The agent's wire format: Jaeger Thrift structs in the compact protocol, sent as one-way
// Agent.emitBatch messages, one batch a datagram.

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

// Writes one span as an element of the batch's span list.
void writeSpan(CompactWriter& writer, const SpanRecord& span);

// Builds emitBatch datagrams from encoded spans without re-encoding them.
class BatchEncoder {
 public:
  explicit BatchEncoder(const Process& process);

  // Bytes of a datagram holding these spans.
  size_t datagramSize(size_t spanCount, size_t spanBytes) const;
  // The most bytes one encoded span may take to fit into a datagram alone.
  size_t maxSpanBytes() const;
  // Makes out the datagram for spanCount encoded spans that lie one after another at spans.
  void datagram(std::string& out, const char* spans, size_t spanBytes, size_t spanCount) const;

 private:
  std::string _head;  // message header, args and batch struct begin, the whole process field
};

}  // namespace jaegertracing
