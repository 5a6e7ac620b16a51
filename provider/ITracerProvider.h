#pragma once
// The provider's tracer holder as other modules see it. The caller owns the object and only ever
// destroys it, through the virtual destructor, so that the provider's own code frees it.

namespace OpenTracingDriver {

class ITracerProvider {
 public:
  virtual ~ITracerProvider() = default;
};

}  // namespace OpenTracingDriver
