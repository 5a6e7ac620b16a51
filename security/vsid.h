#pragma once
// VSID: the light SID holder used when a security descriptor is built for a new object. It
// releases its buffer the way it was obtained: FreeSid for a well-known SID, the ordinary
// deallocation for a private copy.

#include <windows.h>

class VSID {
 public:
  VSID() = default;
  // A private copy of raw; an invalid or null raw SID yields an empty holder, never a raise.
  explicit VSID(PSID raw);
  VSID(VSID&& other) noexcept;
  VSID& operator=(VSID&& other) noexcept;
  VSID(const VSID&) = delete;
  VSID& operator=(const VSID&) = delete;
  ~VSID();

  // S-1-5-32-544, S-1-1-0 and S-1-5-18.
  static VSID admins();
  static VSID everyone();
  static VSID system();

  PSID sid = nullptr;
  bool isCopy = true;

 private:
  void release();
};
