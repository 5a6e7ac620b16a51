#include <windows.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "diagnostics/vexception.h"
#include "security/acl.h"
#include "securityTestSupport.h"
#include "tests/platform/raised.h"

namespace {

using RunTime::Ace;
using RunTime::Acl;

Ace makeAce(uint8_t type, uint8_t flags, ACCESS_MASK mask, const wchar_t* sid) {
  Ace ace;
  ace.init(type, flags, mask, sidFromString(sid));
  return ace;
}

Acl emptyAcl() {
  Acl acl;
  acl.clear();
  return acl;
}

// Each ACE as type/flags/mask/SID, in ACL order.
std::vector<std::wstring> describe(const Acl& acl) {
  std::vector<std::wstring> result;
  for (auto it = acl.begin(); it != acl.end(); ++it) {
    const Ace ace = *it;
    result.push_back(std::to_wstring(ace.header()->AceType) + L"/" + std::to_wstring(ace.header()->AceFlags) + L"/" +
                     std::to_wstring(ace.mask()) + L"/" + sidString(ace.sid()));
  }
  return result;
}

template <class Call>
void expectCode87(Call call, const wchar_t* text) {
  const auto e = raised<vosexception>(call);
  EXPECT_EQ(e.code, 87u);
  EXPECT_NE(e.message.find(text), std::wstring::npos) << e.message;
}

TEST(AclOrderTest, CanonicalClassesNewestFirstAndCopyReverses) {
  Acl acl = emptyAcl();
  const Ace allow = makeAce(ACCESS_ALLOWED_ACE_TYPE, 0, 1, L"S-1-1-0");
  const Ace deny = makeAce(ACCESS_DENIED_ACE_TYPE, 0, 2, L"S-1-1-0");
  const Ace inherited = makeAce(ACCESS_ALLOWED_ACE_TYPE, INHERITED_ACE, 4, L"S-1-1-0");
  const Ace inheritedDeny = makeAce(ACCESS_DENIED_ACE_TYPE, INHERITED_ACE, 8, L"S-1-1-0");
  const Ace second = makeAce(ACCESS_ALLOWED_ACE_TYPE, 0, 16, L"S-1-5-18");
  for (const Ace* ace : {&inherited, &allow, &inheritedDeny, &deny, &second}) acl.add(ace, 1);
  const std::vector<std::wstring> expected = {L"1/0/2/S-1-1-0", L"0/0/16/S-1-5-18", L"0/0/1/S-1-1-0",
                                              L"1/16/8/S-1-1-0", L"0/16/4/S-1-1-0"};
  EXPECT_EQ(describe(acl), expected);

  Acl once = emptyAcl();
  once.copy(acl.get());
  const std::vector<std::wstring> reversed = {L"1/0/2/S-1-1-0", L"0/0/1/S-1-1-0", L"0/0/16/S-1-5-18",
                                              L"1/16/8/S-1-1-0", L"0/16/4/S-1-1-0"};
  EXPECT_EQ(describe(once), reversed);
  Acl twice = emptyAcl();
  twice.copy(once.get());
  EXPECT_EQ(describe(twice), expected);
}

TEST(AclOrderTest, DuplicatesSuppressedOnlyByTheArrayForm) {
  Acl acl = emptyAcl();
  const Ace ace = makeAce(ACCESS_ALLOWED_ACE_TYPE, 3, 0x1F01FF, L"S-1-5-18");
  acl.add(&ace, 1);
  acl.add(&ace, 1);
  EXPECT_EQ(acl.aceCount(), 1u);
  EXPECT_EQ(acl.findAce(ace, 0), 0);
  EXPECT_EQ(acl.findAce(ace, 1), -1);
  const Ace otherMask = makeAce(ACCESS_ALLOWED_ACE_TYPE, 3, 1, L"S-1-5-18");
  EXPECT_EQ(acl.findAce(otherMask, 0), -1);

  Acl raw = emptyAcl();
  raw.copy(acl.get());
  raw.expand(acl.get(), nullptr, 0);
  raw.add(acl.get());
  EXPECT_EQ(raw.aceCount(), 2u);
}

TEST(AclOrderTest, TypesWithoutOrderClassRaiseCode87) {
  Acl acl = emptyAcl();
  const Ace audit = makeAce(SYSTEM_AUDIT_ACE_TYPE, 0, 1, L"S-1-1-0");
  expectCode87([&] { acl.getInsertionIndex(audit.header()); }, L"Invalid ACE type");

  ASSERT_TRUE(AddAuditAccessAce(acl.get(), ACL_REVISION, 1, sidFromString(L"S-1-1-0").get(), TRUE, FALSE));
  const Ace allow = makeAce(ACCESS_ALLOWED_ACE_TYPE, 0, 1, L"S-1-1-0");
  expectCode87([&] { acl.add(&allow, 1); }, L"Unsupported ACE type in ACL");

  EXPECT_EQ(raised<vexception>([] { Ace::getSidOffset(4); }).message, L"Unsupported ACE type (4)");
}

TEST(AclSizeTest, CalculateSizeAndGeometricGrowth) {
  Acl acl = emptyAcl();
  EXPECT_EQ(acl.calculateSize(nullptr, nullptr, 0), 16u);
  const Ace ace = makeAce(ACCESS_ALLOWED_ACE_TYPE, 0, 1, L"S-1-1-0");
  EXPECT_EQ(acl.calculateSize(acl.get(), &ace, 1), 8u + 8u + 8u + ace.header()->AceSize);

  // 300 distinct ACEs added one at a time: every one kept, few re-allocations.
  int reallocations = 0;
  const BYTE* last = acl.acl.get();
  for (DWORD i = 0; i < 300; ++i) {
    const DWORD values[] = {21, 7, 7, 7, 1000 + i};
    Ace next;
    next.init(ACCESS_ALLOWED_ACE_TYPE, 0, 1, RunTime::Sid(SECURITY_NT_AUTHORITY, 5, values));
    acl.add(&next, 1);
    if (acl.acl.get() != last) ++reallocations;
    last = acl.acl.get();
  }
  ASSERT_EQ(acl.aceCount(), 300u);
  EXPECT_LE(reallocations, 12);
  const DWORD values[] = {21, 7, 7, 7, 1000};
  EXPECT_EQ(acl.findSid(RunTime::Sid(SECURITY_NT_AUTHORITY, 5, values).get(), 0), 299);
}

TEST(AclTransformTest, RemoveSidEntriesDenyOnlyKeepsAllows) {
  Acl acl = emptyAcl();
  const Ace deny = makeAce(ACCESS_DENIED_ACE_TYPE, 0, DELETE, L"S-1-1-0");
  const Ace allow = makeAce(ACCESS_ALLOWED_ACE_TYPE, 0, 1, L"S-1-1-0");
  const Ace other = makeAce(ACCESS_DENIED_ACE_TYPE, 0, 1, L"S-1-5-18");
  for (const Ace* ace : {&deny, &allow, &other}) acl.add(ace, 1);
  const auto everyone = sidFromString(L"S-1-1-0");
  const std::vector<std::wstring> denyOnly = {L"1/0/1/S-1-5-18", L"0/0/1/S-1-1-0"};
  EXPECT_EQ(describe(Acl::removeSidEntries(acl, everyone.get(), true)), denyOnly);
  const std::vector<std::wstring> all = {L"1/0/1/S-1-5-18"};
  EXPECT_EQ(describe(Acl::removeSidEntries(acl, everyone.get(), false)), all);
  EXPECT_EQ(acl.aceCount(), 3u);
}

TEST(AclTransformTest, RemoveUnmappedSidsKeepsWellKnownAccounts) {
  Acl acl = emptyAcl();
  const Ace unmapped = makeAce(ACCESS_ALLOWED_ACE_TYPE, 0, 1, L"S-1-5-21-1-2-3-4567");
  const Ace everyone = makeAce(ACCESS_ALLOWED_ACE_TYPE, 0, 1, L"S-1-1-0");
  const Ace system = makeAce(ACCESS_DENIED_ACE_TYPE, 0, 1, L"S-1-5-18");
  for (const Ace* ace : {&everyone, &unmapped, &system}) acl.add(ace, 1);
  const std::vector<std::wstring> kept = {L"1/0/1/S-1-5-18", L"0/0/1/S-1-1-0"};
  EXPECT_EQ(describe(Acl::removeUnmappedSids(acl)), kept);
}

// A removal only removes: what stays keeps its order, however many removals run (the number
// that removeTokenDenials runs depends on the caller's groups).
TEST(AclTransformTest, RemovalsKeepTheOrderOfWhatStays) {
  Acl acl = emptyAcl();
  const Ace users = makeAce(ACCESS_ALLOWED_ACE_TYPE, 0, 1, L"S-1-5-32-545");
  const Ace system = makeAce(ACCESS_ALLOWED_ACE_TYPE, 0, 2, L"S-1-5-18");
  const Ace everyone = makeAce(ACCESS_ALLOWED_ACE_TYPE, 0, 4, L"S-1-1-0");
  const Ace unmapped = makeAce(ACCESS_ALLOWED_ACE_TYPE, 0, 8, L"S-1-5-21-1-2-3-4567");
  const Ace denyEveryone = makeAce(ACCESS_DENIED_ACE_TYPE, 0, DELETE, L"S-1-1-0");
  const Ace denyGuests = makeAce(ACCESS_DENIED_ACE_TYPE, 0, 1, L"S-1-5-32-546");
  for (const Ace* ace : {&users, &unmapped, &system, &everyone, &denyGuests, &denyEveryone}) acl.add(ace, 1);
  const std::vector<std::wstring> all = {L"1/0/65536/S-1-1-0", L"1/0/1/S-1-5-32-546",     L"0/0/4/S-1-1-0",
                                         L"0/0/2/S-1-5-18",     L"0/0/8/S-1-5-21-1-2-3-4567", L"0/0/1/S-1-5-32-545"};
  ASSERT_EQ(describe(acl), all);

  EXPECT_EQ(describe(Acl::removeSidEntries(acl, sidFromString(L"S-1-5-32-544").get(), false)), all);
  const auto without = [&all](std::initializer_list<size_t> gone) {
    std::vector<std::wstring> rest;
    for (size_t i = 0; i < all.size(); ++i) {
      if (std::find(gone.begin(), gone.end(), i) == gone.end()) rest.push_back(all[i]);
    }
    return rest;
  };
  EXPECT_EQ(describe(Acl::removeUnmappedSids(acl)), without({4}));
  EXPECT_EQ(describe(Acl::removeTokenDenials(acl)), without({0})) << "Everyone is in every token";
  EXPECT_EQ(describe(Acl::removeSidEntries(Acl::removeSidEntries(acl, sidFromString(L"S-1-5-32-546").get(), true),
                                           sidFromString(L"S-1-5-18").get(), false)),
            without({1, 3}));
}

TEST(AclTransformTest, MergesCombineMasksAndFlags) {
  Acl masks = emptyAcl();
  const Ace read = makeAce(ACCESS_ALLOWED_ACE_TYPE, INHERITED_ACE, 0x1, L"S-1-1-0");
  const Ace write = makeAce(ACCESS_ALLOWED_ACE_TYPE, INHERITED_ACE, 0x4, L"S-1-1-0");
  const Ace generic = makeAce(ACCESS_ALLOWED_ACE_TYPE, 0, GENERIC_ALL, L"S-1-5-18");
  for (const Ace* ace : {&read, &write, &generic}) masks.add(ace, 1);
  const std::vector<std::wstring> merged = {L"0/0/5/S-1-1-0", L"0/0/268435456/S-1-5-18"};
  EXPECT_EQ(describe(Acl::mergeAccessMasks(masks, nullptr)), merged);

  Acl flags = emptyAcl();
  const Ace inheritOnly = makeAce(ACCESS_ALLOWED_ACE_TYPE, OBJECT_INHERIT_ACE | INHERIT_ONLY_ACE, 1, L"S-1-1-0");
  const Ace plain = makeAce(ACCESS_ALLOWED_ACE_TYPE, 0, 1, L"S-1-1-0");
  const Ace bothOnly = makeAce(ACCESS_DENIED_ACE_TYPE, CONTAINER_INHERIT_ACE | INHERIT_ONLY_ACE, 1, L"S-1-5-18");
  const Ace bothOnly2 = makeAce(ACCESS_DENIED_ACE_TYPE, OBJECT_INHERIT_ACE | INHERIT_ONLY_ACE, 1, L"S-1-5-18");
  for (const Ace* ace : {&inheritOnly, &plain, &bothOnly, &bothOnly2}) flags.add(ace, 1);
  const std::vector<std::wstring> combined = {L"1/11/1/S-1-5-18", L"0/1/1/S-1-1-0"};
  EXPECT_EQ(describe(Acl::mergeAceFlags(flags, nullptr)), combined);
}

// An object ACE that leaves out a GUID carries its SID before offset 44: refused, never misread.
TEST(AceObjectTest, FullLayoutReadAndPartialLayoutRefused) {
  const auto sid = sidFromString(L"S-1-5-18");
  const DWORD sidLength = GetLengthSid(sid.get());
  std::vector<BYTE> raw(44 + sidLength);
  auto* header = reinterpret_cast<ACE_HEADER*>(raw.data());
  header->AceType = ACCESS_ALLOWED_OBJECT_ACE_TYPE;
  header->AceSize = static_cast<WORD>(raw.size());
  const DWORD both = ACE_OBJECT_TYPE_PRESENT | ACE_INHERITED_OBJECT_TYPE_PRESENT;
  std::memcpy(raw.data() + 8, &both, 4);
  const GUID type = {0x11223344, 0x5566, 0x7788, {1, 2, 3, 4, 5, 6, 7, 8}};
  std::memcpy(raw.data() + 12, &type, sizeof type);
  CopySid(sidLength, raw.data() + 44, sid.get());

  const Ace full(header);
  const Ace rebuilt(full);
  EXPECT_EQ(rebuilt.get_objectFlags(), both);
  EXPECT_TRUE(IsEqualGUID(rebuilt.get_objectType(), type));
  EXPECT_TRUE(EqualSid(rebuilt.sid(), sid.get()));

  const DWORD typeOnly = ACE_OBJECT_TYPE_PRESENT;
  std::memcpy(raw.data() + 8, &typeOnly, 4);
  const Ace partial(header);
  EXPECT_THROW(partial.sid(), vexception);
  EXPECT_THROW(Ace{partial}, vexception);

  const Ace plain = makeAce(ACCESS_ALLOWED_ACE_TYPE, 0, 1, L"S-1-1-0");
  EXPECT_EQ(raised<vexception>([&] { plain.get_objectFlags(); }).message, L"Not X_X_OBJECT_ACE_TYPE");
}

}  // namespace
