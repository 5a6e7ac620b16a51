#include "driver/OpenTracingDriver.h"

#include <atomic>
#include <new>

#include "diagnostics/ExecuteContext.h"
#include "driver/OpenTracingDriverState.h"

namespace OpenTracingDriver {

namespace {

// With tracing off every traced scope of the product allocates a do-nothing span context, and
// the heap would cost more than all the rest of the call: one freed block is kept for the next.
std::atomic<void*> spareNoneBlock{nullptr};

}  // namespace

std::unique_ptr<ISpanContextProvider> StartSpan(const std::string& function, int32_t line, const std::string& name) {
  class OpenTracingSpanContextNone : public ISpanContextProvider {
   public:
    static void* operator new(size_t size) {
      void* block = spareNoneBlock.exchange(nullptr, std::memory_order_acquire);
      return block != nullptr ? block : ::operator new(size);
    }
    static void operator delete(void* block) {
      void* empty = nullptr;
      if (!spareNoneBlock.compare_exchange_strong(empty, block, std::memory_order_release)) ::operator delete(block);
    }
    bool IsEnabled() override { return false; }
    void SetError(const std::string&) override {}
    void SetTag(const std::string&, const std::string&) override {}
  };
  try {
    if (IsEnabled()) {
      if (auto span = getExecuteContext()->driverState->startSpan(function, line, name)) return span;
    }
    return std::make_unique<OpenTracingSpanContextNone>();
  } catch (...) {
    Disable();
    return std::make_unique<OpenTracingSpanContextNone>();
  }
}

void InjectCurrentSpan() {
  try {
    if (IsEnabled()) getExecuteContext()->driverState->injectSpan();
  } catch (...) {
    Disable();
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
