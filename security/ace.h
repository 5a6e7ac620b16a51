#pragma once
// RunTime::Ace: one owned ACE in Windows layout. Object ACEs are handled only in their full
// layout (both GUIDs present, SID at offset 44); one that leaves out a GUID is refused rather
// than read at the wrong offset.

#include <windows.h>

#include <cstdint>
#include <memory>

#include "security/runtimeSid.h"

namespace RunTime {

class Ace {
 public:
  Ace() = default;
  // A byte copy of raw (AceSize bytes).
  explicit Ace(const ACE_HEADER* raw);
  // Rebuilt from its parts: exactly sidOffset + SID length bytes.
  Ace(const Ace& other);
  Ace(Ace&&) noexcept = default;
  Ace& operator=(Ace&&) noexcept = default;
  Ace& operator=(const Ace&) = delete;

  // A fresh ACE; object types get the full layout with zero GUIDs.
  void init(uint8_t type, uint8_t flags, ACCESS_MASK mask, const Sid& sid);

  // 8 for the plain types 0-3, 44 for the object types 5-8; any other type raises.
  static DWORD getSidOffset(uint8_t type);

  DWORD get_objectFlags() const;
  GUID get_objectType() const;
  GUID get_inheritedObjectType() const;

  ACE_HEADER* header() const { return reinterpret_cast<ACE_HEADER*>(ace.get()); }
  ACCESS_MASK& mask() const { return *reinterpret_cast<ACCESS_MASK*>(ace.get() + 4); }
  // Offset of the SID in this ACE; raises for an object ACE that lacks a GUID.
  DWORD sidOffset() const;
  PSID sid() const { return ace.get() + sidOffset(); }

  std::unique_ptr<BYTE[]> ace;
  bool valid = false;
};

// Strict order: type, then the bytes before the SID, then SID length, then SID bytes.
struct AceLess {
  bool operator()(const Ace& a, const Ace& b) const;
};

}  // namespace RunTime
