#pragma once
// Tells readers of registry values whether what they read before may have changed, without
// reading again: a generation number that stays the same while nothing under a key changed and
// moves on with every change (a value set or deleted, a subkey created or deleted, anywhere
// below the key; RegNotifyChangeKeyValue). A change made before a call to generation() has
// moved the number that call returns. While the key cannot be watched (it is missing, or the
// system refuses the notification) every call returns kUnwatched. Any thread may call it.

#include <windows.h>

#include <cstdint>
#include <string>

#include "platform/UniqueHandle.h"
#include "platform/registry.h"

class RegistryWatch {
 public:
  // Returned while nothing is watched: never the generation of a read.
  static constexpr uint64_t kUnwatched = 0;

  // Watches parent\subKey in view; the key is opened on the first call to generation().
  RegistryWatch(HKEY parent, std::wstring subKey, RegistryView view) noexcept;

  // The current generation: a change since the previous call (or a first call) gives a new
  // number, larger than any before. Read values after the call, so that a change made while
  // they are read moves the number again. Never raises.
  uint64_t generation() noexcept;

  RegistryWatch(const RegistryWatch&) = delete;
  RegistryWatch& operator=(const RegistryWatch&) = delete;

 private:
  // Opens the key when needed and asks for the next change to signal the event.
  bool arm() noexcept;

  const HKEY parent_;
  const std::wstring subKey_;
  const REGSAM view_;
  SRWLOCK lock_ = SRWLOCK_INIT;  // guards what follows
  UniqueRegistryKey key_;
  UniqueKernelHandle changed_;  // auto-reset; signalled by the next change once armed
  bool armed_ = false;
  uint64_t generation_ = kUnwatched;
};
