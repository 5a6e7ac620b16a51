#pragma once
// One open span of the caller's scope. Destroying the object ends the span; it must be destroyed
// on the thread that created it, innermost first. The slot order is a contract between modules
// built separately: destructor, IsEnabled, SetError, SetTag.

#include <string>

namespace OpenTracingDriver {

class ISpanContextProvider {
 public:
  virtual ~ISpanContextProvider() = default;
  // False for the do-nothing span context that the driver hands out when tracing is off.
  virtual bool IsEnabled() = 0;
  // Marks the span as failed, with a description of the failure.
  virtual void SetError(const std::string& description) = 0;
  // Sets a string tag on the span.
  virtual void SetTag(const std::string& key, const std::string& value) = 0;
};

}  // namespace OpenTracingDriver
