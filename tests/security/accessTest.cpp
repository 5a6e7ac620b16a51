#include "security/access.h"

#include <windows.h>

#include <aclapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/VMutex.h"
#include "security/securityDescriptor.h"
#include "securityTestSupport.h"
#include "tests/platform/raised.h"

namespace {

using RunTime::Ace;
using RunTime::Acl;

// Owner and DACL of a registry key or a kernel object as the system stores them, not canonicalised.
struct Stored {
  explicit Stored(const TempKey& key) {
    EXPECT_EQ(
        GetNamedSecurityInfoW(key.name.c_str(), SE_REGISTRY_KEY, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                              &owner, nullptr, &dacl, nullptr, &descriptor),
        ERROR_SUCCESS);
  }
  explicit Stored(HANDLE object) {
    EXPECT_EQ(GetSecurityInfo(object, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr,
                              &descriptor),
              ERROR_SUCCESS);
  }
  ~Stored() { LocalFree(descriptor); }
  // Each ACE as aceText, in order.
  Aces texts() const {
    Aces result;
    for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount; ++i) {
      void* ace = nullptr;
      GetAce(dacl, i, &ace);
      result.push_back(aceText(Ace(static_cast<ACE_HEADER*>(ace))));
    }
    return result;
  }
  PACL dacl = nullptr;
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
};

// The rights grantAccess writes into a file's DACL.
TEST(AccessHelpers, FileRightsFollowTheFileGenericMapping) {
  EXPECT_EQ(mapFileGenericRights(GENERIC_ALL | DELETE), 0x1F01FFu);
  EXPECT_EQ(mapFileGenericRights(GENERIC_WRITE | GENERIC_EXECUTE | 0x1), 0x120116u | 0x1200A0u | 0x1);
}

// Read back through kernel objects, which keep their descriptors on every system: every process
// may open and wait on the product's named mutexes, whoever made them; the recycler folder
// carries four entries. The entries own their SIDs.
TEST(SecurityDescriptor, TheMutexesAndTheRecyclerCarryTheirEntries) {
  VMutex mutex(true, (L"kestrin-security-test-" + std::to_wstring(GetCurrentProcessId())).c_str());
  EXPECT_EQ(Stored(mutex.handle.get()).texts(), Aces{L"0/3/0x10000000/S-1-1-0"});
  const SecurityDescriptor descriptor(recyclerSecurityEntries(), false);
  const HANDLE event = CreateEventW(const_cast<SECURITY_ATTRIBUTES*>(&descriptor.attributes), TRUE, FALSE, nullptr);
  ASSERT_NE(event, nullptr);
  const Aces recycler = Stored(event).texts();
  CloseHandle(event);
  EXPECT_EQ(recycler, (Aces{L"0/3/0x10000000/S-1-5-32-544", L"0/3/0x10000000/S-1-5-18", L"0/2/0x1300e7/S-1-1-0",
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

// Wine stores no file descriptor (a DACL written to a file reads back made up from the Unix
// mode bits), so the object read back for real is a registry key.
TEST(ObjectSecurity, ANullDaclReadsAsEveryoneFullControlAndFailuresNameThePathWithoutPrefix) {
  TempKey key;
  ASSERT_EQ(key.created, ERROR_SUCCESS);
  ASSERT_EQ(SetNamedSecurityInfoW(key.name.data(), SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                  nullptr, nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(Stored(key).dacl, nullptr) << "the system did not keep the null DACL";
  const Acl acl = RunTime::Access::getSecurity(key.name.c_str(), SE_REGISTRY_KEY);
  EXPECT_EQ(aceText(acl.getAce(0)) + L" " + std::to_wstring(acl.aceCount()), L"0/3/0x10000000/S-1-1-0 1");

  wchar_t temp[MAX_PATH];
  const std::wstring missing = std::wstring(temp, GetTempPathW(MAX_PATH, temp)) + L"kestrin-missing.txt";
  const auto e = raised<VFileNotFoundException>(
      [&] { RunTime::Access::getSecurity((L"\\\\?\\" + missing).c_str(), SE_FILE_OBJECT); });
  EXPECT_NE(e.message.find(L"Unable to get the object (" + missing + L") security info"), std::wstring::npos)
      << e.message;
  EXPECT_EQ(e.sites.at(0).function, "RunTime::Access::getSecurity");
  EXPECT_THROW(RunTime::Access::setOwner(missing.c_str(), SE_FILE_OBJECT), VFileNotFoundException);
}

// Every entry explicit, the grants leading the allow entries (after the remaining deny
// entries, of which there are keptDenials), and no deny entry for any SID of the caller's token.
void expectTakenOver(const Aces& aces, size_t formerEntries, ACCESS_MASK granted, size_t keptDenials) {
  const std::wstring owner = sidString(RunTime::Sid::owner(GetCurrentProcess()).get());
  ASSERT_EQ(aces.size(), 2 + formerEntries);
  std::wostringstream grant;
  grant << L"0/3/0x" << std::hex << granted << L'/';
  EXPECT_EQ(aces[keptDenials] + L" " + aces[keptDenials + 1], grant.str() + owner + L" " + grant.str() + L"S-1-5-18");
  Aces callerSids = {sidString(RunTime::Sid::current(GetCurrentProcess()).get()), owner, L"S-1-5-18"};
  const auto groups = RunTime::Access::processTokenGroups(GetCurrentProcess());
  const auto* list = reinterpret_cast<const TOKEN_GROUPS*>(groups.get());
  for (DWORD i = 0; i < list->GroupCount; ++i) callerSids.push_back(sidString(list->Groups[i].Sid));
  for (const std::wstring& entry : aces) {
    EXPECT_EQ(std::stoi(entry.substr(2)) & INHERITED_ACE, 0) << entry;
    const std::wstring sid = entry.substr(entry.rfind(L'/') + 1);
    EXPECT_FALSE(entry[0] == L'1' && std::count(callerSids.begin(), callerSids.end(), sid))
        << "caller denied: " << entry;
  }
}

// A DACL denying Everyone DELETE, with two inherited grants to Users that merge into one once the
// generic right is mapped to the file rights.
TEST(ObjectSecurity, GrantedAclLeadsWithGrantsAndDropsCallerDenials) {
  const Acl stubborn = aclOf({L"1/0/0x10000/S-1-1-0", L"0/16/0x80000000/S-1-5-32-545", L"0/25/0x120089/S-1-5-32-545"});
  const Acl granted = RunTime::Access::grantedAcl(stubborn, SE_FILE_OBJECT, DELETE | FILE_WRITE_ATTRIBUTES);
  const Aces aces = describe(granted);
  ASSERT_NO_FATAL_FAILURE(expectTakenOver(aces, 1, DELETE | FILE_WRITE_ATTRIBUTES, 0));
  EXPECT_EQ(aces[2], L"0/1/0x120089/S-1-5-32-545");
}

// A key owned by LocalSystem that denies Everyone DELETE and Guests KEY_SET_VALUE, and lets the
// caller's user read it and change its owner and DACL. (Wine lets a key's owner delete it
// whatever its DACL says, so the owner must be outside the caller's token.) Keys keep and enforce
// their descriptors here, so this is the take-over read back for real.
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
  ASSERT_EQ(key.created, ERROR_SUCCESS);
  const Stored before(key);
  ASSERT_EQ(before.texts().size(), 4u);
  ASSERT_TRUE(EqualSid(before.owner, system.get()));
  ASSERT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, key.subKey.c_str()), ERROR_ACCESS_DENIED) << "deletable before";

  RunTime::Access::grantAccess(key.name.c_str(), SE_REGISTRY_KEY, DELETE | KEY_SET_VALUE);

  const Stored stored(key);
  EXPECT_TRUE(EqualSid(stored.owner, RunTime::Sid::owner(GetCurrentProcess()).get()));
  const Aces texts = stored.texts();
  ASSERT_NO_FATAL_FAILURE(expectTakenOver(texts, 3, DELETE | KEY_SET_VALUE, 1));
  // The denial of a SID outside the caller's token stays, ahead of every grant; the former
  // allow entries, both explicit now, follow in either order.
  EXPECT_EQ(texts[0], L"1/0/0x2/S-1-5-32-546");
  Aces allowed = {texts[3], texts[4]};
  std::sort(allowed.begin(), allowed.end());
  EXPECT_EQ(allowed, (Aces{L"0/0/0x20019/S-1-5-32-545", L"0/0/0xe0019/" + user}));
  EXPECT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, key.subKey.c_str()), ERROR_SUCCESS)
      << "the grant did not allow the delete";
}

}  // namespace
