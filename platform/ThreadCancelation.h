#pragma once
// A scoped marker that blocking waits and long operations put on the stack where a thread could
// be cancelled. Threads of this product cannot be cancelled, so the marker does nothing.

#include <cstdint>

namespace ThreadCancelation {

class CancelationPoint {
 public:
  // Callers pass whether the point may cancel; the marker keeps no use for it.
  explicit CancelationPoint(int mayCancel);
  virtual void checkCancelation();
  virtual ~CancelationPoint();

  CancelationPoint(const CancelationPoint&) = delete;
  CancelationPoint& operator=(const CancelationPoint&) = delete;

 private:
  // The marker's fixed layout, which nothing here reads.
  [[maybe_unused]] void* first = nullptr;
  [[maybe_unused]] int32_t second = 1;
  [[maybe_unused]] int16_t third = 0;
  [[maybe_unused]] int8_t fourth = 0;
  [[maybe_unused]] void* fifth = nullptr;
};

}  // namespace ThreadCancelation
