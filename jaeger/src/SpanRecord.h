#pragma once
// Everything of a finished span that the agent receives. A span hands its record to the
// reporter when it finishes, so no lock is shared between them.

#include <cstdint>
#include <string>
#include <vector>

#include "jaeger/src/BlockBytes.h"
#include "jaeger/src/SpanContext.h"
#include "jaeger/src/Tag.h"

namespace jaegertracing {

struct SpanReference {
  enum class Type : int32_t { ChildOf = 0, FollowsFrom = 1 };
  Type type = Type::ChildOf;
  TraceId traceId;
  uint64_t spanId = 0;
};

struct SpanRecord {
  TraceId traceId;
  uint64_t spanId = 0;
  uint64_t parentId = 0;
  uint8_t flags = 0;
  BlockBytes operationName;
  std::vector<SpanReference> references;
  int64_t startMicros = 0;     // since the Unix epoch
  int64_t durationMicros = 0;
  EncodedTags tags;
  EncodedLogs logs;
};

}  // namespace jaegertracing
