#pragma once
// RunTime::Acl: an owned, growable ACL (revision 2). Every insertion puts the ACE at its
// canonical place: explicit deny, explicit deny-object, explicit allow, explicit allow-object,
// then the same four for inherited ACEs; within one class the newest insertion stands first.
// Transformations return new ACLs and leave their source untouched.

#include <windows.h>

#include <cstdint>
#include <memory>

#include "security/ace.h"

namespace RunTime {

class Acl {
 public:
  // A position in the ACL; dereferencing yields a copy of the ACE there.
  class iterator {
   public:
    iterator(const Acl* acl, DWORD index) : acl(acl), index(index) {}
    Ace operator*() const { return acl->getAce(index); }
    iterator& operator++() { ++index; return *this; }
    bool operator!=(const iterator& other) const { return acl != other.acl || index != other.index; }

   private:
    const Acl* acl;
    DWORD index;
  };

  using MaskMap = ACCESS_MASK (*)(ACCESS_MASK);

  Acl() = default;
  Acl(Acl&&) noexcept = default;
  Acl& operator=(Acl&&) noexcept = default;
  Acl(const Acl&) = delete;
  Acl& operator=(const Acl&) = delete;

  // A new, empty 268-byte ACL.
  void clear();
  // This ACL becomes a canonical copy of source.
  void copy(const ACL* source);
  // Inserts every ACE of source at its canonical index: no duplicate check, no growth.
  void add(const ACL* source);
  // Grows for all of aces, then inserts each one not already present.
  void add(const Ace* aces, DWORD count);
  // Bytes in use here (when valid) and in other, plus every ACE of aces, plus 8.
  uint32_t calculateSize(const ACL* other, const Ace* aces, DWORD count) const;
  // Grows to twice the need when other and aces would not fit.
  void expand(const ACL* other, const Ace* aces, DWORD count);
  // Index of the first identical ACE (bytes before the SID, and the SID) at or after start, or -1.
  int findAce(const Ace& ace, DWORD start) const;
  // Index of the first ACE at or after start naming sid, or -1.
  int findSid(PSID sid, DWORD start) const;
  Ace getAce(DWORD index) const;
  void deleteAce(DWORD index);
  DWORD aceCount() const;
  iterator begin() const { return iterator(this, 0); }
  iterator end() const;
  // Canonical index for ace; types outside the four ordered ones raise with code 87.
  DWORD getInsertionIndex(const ACE_HEADER* ace) const;

  // The removals keep the order of the ACEs that stay (unlike copy).
  // Without the ACEs naming sid (only the deny ones with denyOnly).
  static Acl removeSidEntries(const Acl& source, PSID sid, bool denyOnly);
  // Without the ACEs whose SID maps to no account.
  static Acl removeUnmappedSids(const Acl& source);
  // Equal ACEs but for their flags become one with the union of the flags.
  static Acl mergeAceFlags(const Acl& source, MaskMap map);
  // Equal ACEs but for their masks become one explicit ACE with the union of the masks.
  static Acl mergeAccessMasks(const Acl& source, MaskMap map);
  // Without the deny ACEs for the caller's groups, user, owner and LocalSystem.
  static Acl removeTokenDenials(const Acl& source);
  // What a null DACL means: Everyone, GENERIC_ALL, inherited by files and folders.
  static Acl everyoneFullControl();

  PACL get() const { return reinterpret_cast<PACL>(acl.get()); }

  std::unique_ptr<BYTE[]> acl;
  bool valid = false;

 private:
  void install(DWORD size, const char* function);
};

}  // namespace RunTime
