#include "platform/VSyncObject.h"

#include "diagnostics/vexception.h"
#include "platform/ThreadCancelation.h"

namespace {

// Fixed sites: the product's logs and other modules know these lines, whatever the source's own.
constexpr SiteName kWaitSite{"VSyncObject::waitForSingleObject", 112};
constexpr SiteName kLockSite{"VSyncObject::lock", 128};

// UTC wall time in 100 ns units.
uint64_t systemTime() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

}  // namespace

VSyncObject::~VSyncObject() = default;

uint32_t VSyncObject::waitForSingleObject(uint32_t timeout) {
  const ThreadCancelation::CancelationPoint cancelation(0);
  const bool limited = timeout != INFINITE;
  const uint64_t deadline = limited ? systemTime() + static_cast<uint64_t>(timeout) * 10000 : 0;
  // The first wait takes the whole time-out: the clock was read just now. Each procedure call
  // that interrupts it leaves only what remains until the deadline.
  DWORD remaining = timeout;
  DWORD result = WaitForSingleObjectEx(handle.get(), remaining, TRUE);
  while (result == WAIT_IO_COMPLETION) {
    if (limited) {
      const uint64_t now = systemTime();
      remaining = now < deadline ? static_cast<DWORD>((deadline - now) / 10000) : 0;
    }
    result = WaitForSingleObjectEx(handle.get(), remaining, TRUE);
  }
  if (result == WAIT_FAILED) throwLastError(kWaitSite, L"Wait for single object");
  return result;
}

bool VSyncObject::lock(uint32_t timeout) {
  switch (waitForSingleObject(timeout)) {
    case WAIT_OBJECT_0:
    case WAIT_ABANDONED:
      return true;
    case WAIT_IO_COMPLETION:
    case WAIT_TIMEOUT:
      return false;
    default:
      throwLastError(kLockSite, L"Lock object");
  }
}

void acquireLock(VSyncObject* object) { object->lock(INFINITE); }

void releaseLock(VSyncObject* object) noexcept {
  try {
    object->unlock();
  } catch (...) {
  }
}
