#include <cstring>

#include "securityTestSupport.h"
#include "tests/platform/raised.h"

namespace {

using RunTime::Acl;

TEST(AclInsertion, CanonicalClassesNewestFirstWhileGrowingGeometricallyAndUnreadableAcesRefused) {
  const Acl acl =
      aclOf({L"0/16/0x4/S-1-1-0", L"0/0/0x1/S-1-1-0", L"1/16/0x8/S-1-1-0", L"1/0/0x2/S-1-1-0", L"0/0/0x10/S-1-1-0"});
  EXPECT_EQ(describe(acl), (Aces{L"1/0/0x2/S-1-1-0", L"0/0/0x10/S-1-1-0", L"0/0/0x1/S-1-1-0", L"1/16/0x8/S-1-1-0",
                                 L"0/16/0x4/S-1-1-0"}));
  Acl grown = aclOf({});
  EXPECT_EQ(grown.calculateSize(nullptr, nullptr, 0), 16u);  // 8 bytes to spare beyond the ACL in use
  int reallocations = 0;
  for (int i = 0; i < 300; ++i) {
    const BYTE* last = grown.acl.get();
    const RunTime::Ace next = aclOf({L"0/0/0x1/S-1-5-21-7-7-7-" + std::to_wstring(1000 + i)}).getAce(0);
    grown.add(&next, 1);
    reallocations += grown.acl.get() != last;
  }
  EXPECT_LE(reallocations, 12);
  EXPECT_EQ(grown.findSid(sidFromString(L"S-1-5-21-7-7-7-1000").get(), 0), 299);

  Acl single = aclOf({L"0/3/0x1f01ff/S-1-5-18", L"0/3/0x1f01ff/S-1-5-18"});
  EXPECT_EQ(single.aceCount(), 1u);
  Acl joined = aclOf({});
  joined.copy(single.get());
  joined.add(single.get());
  EXPECT_EQ(joined.aceCount(), 2u);

  const auto index = raised<vosexception>([] { aclOf({L"2/0/0x1/S-1-1-0"}); });
  Acl audit = aclOf({});
  ASSERT_TRUE(AddAuditAccessAce(audit.get(), ACL_REVISION, 1, sidFromString(L"S-1-1-0").get(), TRUE, FALSE));
  const auto add = raised<vosexception>([&] { audit.add(single.get()); });
  EXPECT_EQ(index.code, 87u);
  EXPECT_EQ(add.code, 87u);
  EXPECT_NE(index.message.find(L"Invalid ACE type"), std::wstring::npos) << index.message;
  EXPECT_NE(add.message.find(L"Unsupported ACE type in ACL"), std::wstring::npos) << add.message;
  EXPECT_EQ(raised<vexception>([] { RunTime::Ace::getSidOffset(4); }).message, L"Unsupported ACE type (4)");

  // An object ACE that leaves out a GUID carries its SID before offset 44: refused, never misread.
  const auto sid = sidFromString(L"S-1-5-18");
  std::vector<BYTE> raw(44 + GetLengthSid(sid.get()));
  auto* header = reinterpret_cast<ACE_HEADER*>(raw.data());
  header->AceType = ACCESS_ALLOWED_OBJECT_ACE_TYPE;
  header->AceSize = static_cast<WORD>(raw.size());
  const BYTE both = ACE_OBJECT_TYPE_PRESENT | ACE_INHERITED_OBJECT_TYPE_PRESENT;
  raw[8] = both;
  const GUID type = {0x11223344, 0x5566, 0x7788, {1, 2, 3, 4, 5, 6, 7, 8}};
  std::memcpy(raw.data() + 12, &type, sizeof type);
  CopySid(GetLengthSid(sid.get()), raw.data() + 44, sid.get());
  const RunTime::Ace full(header);
  const RunTime::Ace rebuilt(full);
  EXPECT_EQ(rebuilt.get_objectFlags(), DWORD{both});
  EXPECT_TRUE(IsEqualGUID(rebuilt.get_objectType(), type));
  EXPECT_TRUE(EqualSid(rebuilt.sid(), sid.get()));

  raw[8] = ACE_OBJECT_TYPE_PRESENT;
  const RunTime::Ace partial(header);
  EXPECT_THROW(partial.sid(), vexception);
  EXPECT_THROW(RunTime::Ace{partial}, vexception);
  const RunTime::Ace plain = aclOf({L"0/0/0x1/S-1-1-0"}).getAce(0);
  EXPECT_EQ(raised<vexception>([&] { plain.get_objectFlags(); }).message, L"Not X_X_OBJECT_ACE_TYPE");
}

// What stays keeps its order however many removals run (removeTokenDenials runs one per group).
TEST(AclTransform, RemovalsKeepTheOrderOfWhatStaysAndMergesCombineMasksAndFlags) {
  const Acl acl = aclOf({L"0/0/0x1/S-1-5-32-545", L"0/0/0x8/S-1-5-21-1-2-3-4567", L"0/0/0x2/S-1-5-18",
                         L"0/0/0x4/S-1-1-0", L"1/0/0x1/S-1-5-32-546", L"1/0/0x10000/S-1-1-0"});
  const Aces all = {L"1/0/0x10000/S-1-1-0", L"1/0/0x1/S-1-5-32-546",        L"0/0/0x4/S-1-1-0",
                    L"0/0/0x2/S-1-5-18",    L"0/0/0x8/S-1-5-21-1-2-3-4567", L"0/0/0x1/S-1-5-32-545"};
  ASSERT_EQ(describe(acl), all);
  const Aces allowed(all.begin() + 1, all.end());
  const auto world = sidFromString(L"S-1-1-0");
  EXPECT_EQ(describe(Acl::removeSidEntries(acl, world.get(), true)), allowed) << "deny entries only";
  EXPECT_EQ(describe(Acl::removeSidEntries(acl, world.get(), false)), (Aces{all[1], all[3], all[4], all[5]}));
  EXPECT_EQ(describe(Acl::removeUnmappedSids(acl)), (Aces{all[0], all[1], all[2], all[3], all[5]}))
      << "well-known accounts stay";
  EXPECT_EQ(describe(Acl::removeTokenDenials(acl)), allowed) << "Everyone is in every token";

  const Acl masks = aclOf({L"0/16/0x1/S-1-1-0", L"0/16/0x4/S-1-1-0", L"0/0/0x10000000/S-1-5-18"});
  EXPECT_EQ(describe(Acl::mergeAccessMasks(masks, nullptr)), (Aces{L"0/0/0x5/S-1-1-0", L"0/0/0x10000000/S-1-5-18"}));
  const Acl flags = aclOf({L"0/9/0x1/S-1-1-0", L"0/0/0x1/S-1-1-0", L"1/10/0x1/S-1-5-18", L"1/9/0x1/S-1-5-18"});
  EXPECT_EQ(describe(Acl::mergeAceFlags(flags, nullptr)), (Aces{L"1/11/0x1/S-1-5-18", L"0/1/0x1/S-1-1-0"}));
}

}  // namespace
