#pragma once
// RunTime::Sid: an owning SID value for the access-control code. It always holds a private copy
// of its SID, made with the Windows SID functions; every failure raises.

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

namespace RunTime {

class Sid {
 public:
  Sid() = default;
  // A SID of authority with count (at most 8) sub-authorities taken from values in order.
  Sid(SID_IDENTIFIER_AUTHORITY authority, uint8_t count, const DWORD* values);
  Sid(Sid&&) noexcept = default;
  Sid& operator=(Sid&&) noexcept = default;
  Sid(const Sid&) = delete;
  Sid& operator=(const Sid&) = delete;

  // Empties the object, then stores a copy of raw unless raw is null. A raise leaves it empty.
  void copy(PSID raw);

  // The user SID, respectively the default owner SID, of the token acting for process.
  static Sid current(HANDLE process);
  static Sid owner(HANDLE process);

  PSID get() const { return sid.get(); }

  std::unique_ptr<BYTE[]> sid;
  std::wstring accountName;
  std::wstring domainName;
  uint32_t accountType = SidTypeUnknown;

 private:
  static std::unique_ptr<BYTE[]> allocSidBuffer(DWORD length);
};

Sid localSystemSid();  // S-1-5-18
Sid everyoneSid();     // S-1-1-0

}  // namespace RunTime
