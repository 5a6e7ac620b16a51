#pragma once
// The agent's wire format: Jaeger Thrift structs in the compact protocol, sent as one-way
// Agent.emitBatch messages, one batch a datagram.

#include <cstdint>
#include <string>
#include <vector>

#include "jaeger/src/SpanRecord.h"
#include "jaeger/src/Tag.h"

namespace jaegertracing {

struct Process {
  std::string serviceName;
  Tags tags;
};

// One span as the element of the batch's span list.
std::string encodeSpan(const SpanRecord& span);

// Builds emitBatch datagrams from encoded spans without re-encoding them.
class BatchEncoder {
 public:
  explicit BatchEncoder(const Process& process);

  // Bytes of a datagram holding these spans.
  size_t datagramSize(size_t spanCount, size_t spanBytes) const;
  // The datagram for the given encoded spans.
  std::string datagram(const std::vector<std::string>& spans) const;

 private:
  std::string _head;  // message header, args and batch struct begin, the whole process field
};

}  // namespace jaegertracing
