#include "platform/RegistryWatch.h"

#include <utility>

#include "platform/ScopedLock.h"

namespace {

// Values and subkeys anywhere below the key. A deleted key stops signalling on some systems
// (Wine) but its parent sees the deletion, so callers watch the parent of the key they read.
constexpr DWORD kChanges = REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET | REG_NOTIFY_THREAD_AGNOSTIC;

}  // namespace

RegistryWatch::RegistryWatch(HKEY parent, std::wstring subKey, RegistryView view) noexcept
    : parent_(parent), subKey_(std::move(subKey)), view_(registry::viewFlag(view)) {}

bool RegistryWatch::arm() noexcept {
  if (!changed_) changed_.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  if (!changed_) return false;
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (!key_ && RegOpenKeyExW(parent_, subKey_.c_str(), 0, KEY_NOTIFY | view_, key_.put()) != ERROR_SUCCESS) {
      key_.reset();
      return false;
    }
    if (RegNotifyChangeKeyValue(key_.get(), TRUE, kChanges, changed_.get(), TRUE) == ERROR_SUCCESS) return true;
    // The key was deleted under the handle (ERROR_KEY_DELETED): open it anew once.
    key_.reset();
  }
  return false;
}

uint64_t RegistryWatch::generation() noexcept {
  ScopedLock<SRWLOCK> hold(&lock_);
  if (armed_ && WaitForSingleObject(changed_.get(), 0) == WAIT_TIMEOUT) return generation_;
  // A first call, a change, or no watch yet: whatever was read before may be stale. Arm before
  // the caller reads, so that a change during its read signals again.
  armed_ = arm();
  ++generation_;
  return armed_ ? generation_ : kUnwatched;
}
