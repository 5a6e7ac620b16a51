#include "security/access.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "platform/VMutex.h"
#include "security/securityDescriptor.h"
#include "securityTestSupport.h"
#include "tests/platform/raised.h"

namespace {

using RunTime::Acl;

// The owner's SID, then each ACE of the DACL as aceText, as the system stores them (not
// canonicalised), of a registry key or else of a kernel object.
Aces stored(const TempKey* key, HANDLE object = nullptr) {
  const SECURITY_INFORMATION what = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const DWORD read =
      key ? GetNamedSecurityInfoW(key->name.c_str(), SE_REGISTRY_KEY, what, &owner, nullptr, &dacl, nullptr,
                                  &descriptor)
          : GetSecurityInfo(object, SE_KERNEL_OBJECT, what, &owner, nullptr, &dacl, nullptr, &descriptor);
  Aces result = {read == ERROR_SUCCESS ? sidString(owner) : L"unread " + std::to_wstring(read)};
  for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    GetAce(dacl, i, &ace);
    result.push_back(aceText(RunTime::Ace(static_cast<ACE_HEADER*>(ace))));
  }
  LocalFree(descriptor);
  return result;
}

const std::wstring kOwner = sidString(RunTime::Sid::owner(GetCurrentProcess()).get());

// The rights grantAccess writes into a file's DACL.
TEST(AccessHelpers, FileRightsFollowTheFileGenericMapping) {
  EXPECT_EQ(mapFileGenericRights(GENERIC_ALL | DELETE), 0x1F01FFu);
  EXPECT_EQ(mapFileGenericRights(GENERIC_WRITE | GENERIC_EXECUTE | 0x1), 0x120116u | 0x1200A0u | 0x1);
}

// Read back through kernel objects, which keep their descriptors on every system, Wine included.
TEST(SecurityDescriptor, TheMutexesAndTheRecyclerCarryTheirEntries) {
  VMutex mutex(true, (L"kestrin-security-test-" + std::to_wstring(GetCurrentProcessId())).c_str());
  EXPECT_EQ(stored(nullptr, mutex.handle.get()), (Aces{kOwner, L"0/3/0x10000000/S-1-1-0"}));
  const SecurityDescriptor descriptor(recyclerSecurityEntries(), false);
  const HANDLE event = CreateEventW(const_cast<SECURITY_ATTRIBUTES*>(&descriptor.attributes), TRUE, FALSE, nullptr);
  const Aces recycler = stored(nullptr, event);
  CloseHandle(event);
  EXPECT_EQ(recycler, (Aces{kOwner, L"0/3/0x10000000/S-1-5-32-544", L"0/3/0x10000000/S-1-5-18", L"0/2/0x1300e7/S-1-1-0",
                            L"0/9/0x130080/S-1-1-0"}));

  SecurityEntryList list = grantEntry(VSID::everyone(), GENERIC_READ, true);
  const SecurityEntryList joined = list + grantEntry(VSID::system(), GENERIC_ALL, false);
  list.entries.clear();
  ASSERT_EQ(joined.entries.size(), 2u);
  for (const SecurityEntry& e : joined.entries) EXPECT_EQ(static_cast<PSID>(e.entry.Trustee.ptstrName), e.sid.sid);
  EXPECT_EQ(sidString(joined.entries[0].sid.sid), L"S-1-1-0");
  EXPECT_EQ(joined.entries[0].entry.Trustee.TrusteeType, TRUSTEE_IS_GROUP);
  EXPECT_EQ(joined.entries[1].entry.Trustee.TrusteeType, TRUSTEE_IS_USER);
}

// Wine keeps no file descriptor (it makes one up from the mode bits): the object is a key.
TEST(ObjectSecurity, ANullDaclReadsAsEveryoneFullControlAndFailuresNameThePathWithoutPrefix) {
  TempKey key;
  ASSERT_EQ(SetNamedSecurityInfoW(key.name.data(), SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                  nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(describe(RunTime::Access::getSecurity(key.name.c_str(), SE_REGISTRY_KEY)), Aces{L"0/3/0x10000000/S-1-1-0"});

  wchar_t temp[MAX_PATH];
  const std::wstring missing = std::wstring(temp, GetTempPathW(MAX_PATH, temp)) + L"kestrin-missing.txt";
  const auto e = raised<VFileNotFoundException>(
      [&] { RunTime::Access::getSecurity((L"\\\\?\\" + missing).c_str(), SE_FILE_OBJECT); });
  EXPECT_NE(e.message.find(L"Unable to get the object (" + missing + L") security info"), std::wstring::npos)
      << e.message;
  EXPECT_EQ(e.sites.at(0).function, "RunTime::Access::getSecurity");
}

// The generic right maps to file rights, so the two inherited grants to Users merge into one.
TEST(ObjectSecurity, GrantedAclLeadsWithGrantsAndDropsCallerDenials) {
  const Acl stubborn = aclOf({L"1/0/0x10000/S-1-1-0", L"0/16/0x80000000/S-1-5-32-545", L"0/25/0x120089/S-1-5-32-545"});
  EXPECT_EQ(describe(RunTime::Access::grantedAcl(stubborn, SE_FILE_OBJECT, DELETE | FILE_WRITE_ATTRIBUTES)),
            (Aces{L"0/3/0x10100/" + kOwner, L"0/3/0x10100/S-1-5-18", L"0/1/0x120089/S-1-5-32-545"}));
}

// Owned outside the caller's token: Wine lets a key's owner delete it whatever its DACL says.
TEST(ObjectSecurity, GrantAccessTakesOverAKey) {
  const std::wstring user = sidString(RunTime::Sid::current(GetCurrentProcess()).get());
  const Acl dacl =
      aclOf({L"1/0/0x10000/S-1-1-0", L"1/0/0x2/S-1-5-32-546", L"0/0/0xe0019/" + user, L"0/16/0x20019/S-1-5-32-545"});
  const RunTime::Sid system = RunTime::localSystemSid();
  SECURITY_DESCRIPTOR descriptor{};
  InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
  SetSecurityDescriptorDacl(&descriptor, TRUE, dacl.get(), FALSE);
  SetSecurityDescriptorOwner(&descriptor, system.get(), FALSE);
  TempKey key(&descriptor);
  ASSERT_EQ(stored(&key)[0], L"S-1-5-18");
  ASSERT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, key.subKey.c_str()), ERROR_ACCESS_DENIED) << "deletable before";

  RunTime::Access::grantAccess(key.name.c_str(), SE_REGISTRY_KEY, DELETE | KEY_SET_VALUE);

  // The denial of a SID outside the caller's token stays; the former allows follow in either order.
  Aces after = stored(&key);
  ASSERT_EQ(after.size(), 6u);
  std::sort(after.begin() + 4, after.end());
  EXPECT_EQ(after, (Aces{kOwner, L"1/0/0x2/S-1-5-32-546", L"0/3/0x10002/" + kOwner, L"0/3/0x10002/S-1-5-18",
                         L"0/0/0x20019/S-1-5-32-545", L"0/0/0xe0019/" + user}));
  EXPECT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, key.subKey.c_str()), ERROR_SUCCESS) << "the grant did not allow it";
}

}  // namespace
