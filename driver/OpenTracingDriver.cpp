#include "driver/OpenTracingDriver.h"

#include "diagnostics/ExecuteContext.h"

namespace OpenTracingDriver {

std::unique_ptr<ISpanContextProvider> StartSpan(const std::string& function, int32_t line, const std::string& name) {
  class OpenTracingSpanContextNone : public ISpanContextProvider {
   public:
    bool IsEnabled() override { return false; }
    void SetError(const std::string&) override {}
    void SetTag(const std::string&, const std::string&) override {}
  };
  try {
    if (!IsEnabled()) return std::make_unique<OpenTracingSpanContextNone>();
    return getExecuteContext()->driverState->startSpan(function, line, name);
  } catch (...) {
    Disable();
    return std::make_unique<OpenTracingSpanContextNone>();
  }
}

bool IsEnabled() {
  try {
    return getExecuteContext()->driverState->enabled.load(std::memory_order_relaxed) != 0;
  } catch (...) {
    return false;
  }
}

void Disable() {
  try {
    getExecuteContext()->driverState->enabled.store(0, std::memory_order_relaxed);
  } catch (...) {
  }
}

}  // namespace OpenTracingDriver
