#include <windows.h>

#include <aclapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "diagnostics/vexception.h"
#include "platform/VMutex.h"
#include "security/access.h"
#include "security/securityDescriptor.h"
#include "securityTestSupport.h"
#include "tests/platform/raised.h"

namespace {

using RunTime::Ace;
using RunTime::Acl;

// The DACL as the system stores it, not canonicalised.
struct StoredDacl {
  PACL dacl = nullptr;
  PSID owner = nullptr;
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ~StoredDacl() { LocalFree(descriptor); }
  std::vector<Ace> aces() const {
    std::vector<Ace> result;
    for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount; ++i) {
      void* ace = nullptr;
      GetAce(dacl, i, &ace);
      result.emplace_back(static_cast<ACE_HEADER*>(ace));
    }
    return result;
  }
  void readControl() {
    DWORD revision = 0;
    GetSecurityDescriptorControl(descriptor, &control, &revision);
  }
};

void readFile(const std::wstring& path, StoredDacl& out) {
  ASSERT_EQ(GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                  &out.owner, nullptr, &out.dacl, nullptr, &out.descriptor),
            ERROR_SUCCESS);
  out.readControl();
}

void expectAce(const Ace& ace, uint8_t type, uint8_t flags, ACCESS_MASK mask, PSID sid) {
  EXPECT_EQ(ace.header()->AceType, type);
  EXPECT_EQ(ace.header()->AceFlags, flags);
  EXPECT_EQ(ace.mask(), mask);
  EXPECT_EQ(sidString(ace.sid()), sidString(sid));
}

// Empty when this system keeps a DACL written to a file, otherwise what was measured. Wine's
// server as packaged here stores no file descriptor: SetNamedSecurityInfoW reports success and
// the read back is made up from the Unix mode bits and owner.
std::wstring fileDaclLoss(const std::wstring& path) {
  BYTE buffer[128];
  auto* probe = reinterpret_cast<PACL>(buffer);
  InitializeAcl(probe, sizeof buffer, ACL_REVISION);
  AddAccessAllowedAce(probe, ACL_REVISION, 0x7, RunTime::localSystemSid().get());
  const DWORD written = SetNamedSecurityInfoW(const_cast<wchar_t*>(path.c_str()), SE_FILE_OBJECT,
                                              DACL_SECURITY_INFORMATION, nullptr, nullptr, probe, nullptr);
  if (written != ERROR_SUCCESS) return L"SetNamedSecurityInfoW on a new file failed with " + std::to_wstring(written);
  StoredDacl stored;
  const DWORD read = GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                           &stored.owner, nullptr, &stored.dacl, nullptr, &stored.descriptor);
  if (read != ERROR_SUCCESS) return L"GetNamedSecurityInfoW on a new file failed with " + std::to_wstring(read);
  const auto aces = stored.aces();
  if (aces.size() == 1 && aces[0].mask() == 0x7) return {};
  return L"SetNamedSecurityInfoW returned 0 for the DACL D:(A;;0x7;;;SY) on a new file, which then reads back " +
         sddlText(stored.descriptor) + L": this system stores no file security descriptor";
}

// Owner and DACL of a registry key as stored.
void readKey(const TempKey& key, StoredDacl& out) {
  ASSERT_EQ(GetNamedSecurityInfoW(key.name.c_str(), SE_REGISTRY_KEY, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                  &out.owner, nullptr, &out.dacl, nullptr, &out.descriptor),
            ERROR_SUCCESS);
  out.readControl();
}

// The rights grantAccess writes into a file's DACL.
TEST(AccessHelpersTest, FileRightsFollowTheFileGenericMapping) {
  EXPECT_EQ(mapFileGenericRights(GENERIC_READ), 0x120089u);
  EXPECT_EQ(mapFileGenericRights(GENERIC_ALL | DELETE), 0x1F01FFu);
  EXPECT_EQ(mapFileGenericRights(GENERIC_WRITE | GENERIC_EXECUTE | 0x1), 0x120116u | 0x1200A0u | 0x1);
}

// Every process may open and wait on the product's named mutexes, whoever made them.
TEST(SecurityDescriptorTest, AMutexCarriesEveryoneFullAccess) {
  VMutex mutex(true, (L"kestrin-security-test-" + std::to_wstring(GetCurrentProcessId())).c_str());
  StoredDacl stored;
  ASSERT_EQ(GetSecurityInfo(mutex.handle.get(), SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                            &stored.dacl, nullptr, &stored.descriptor),
            ERROR_SUCCESS);
  const auto aces = stored.aces();
  ASSERT_EQ(aces.size(), 1u) << sddlText(stored.descriptor);
  expectAce(aces[0], ACCESS_ALLOWED_ACE_TYPE, 3, GENERIC_ALL, VSID::everyone().sid);
}

TEST(SecurityDescriptorTest, RecyclerFolderCarriesItsFourEntries) {
  const SecurityDescriptor descriptor(recyclerSecurityEntries(), false);
  const auto expectRecyclerEntries = [](const std::vector<Ace>& aces) {
    ASSERT_EQ(aces.size(), 4u);
    expectAce(aces[0], ACCESS_ALLOWED_ACE_TYPE, 3, GENERIC_ALL, VSID::admins().sid);
    expectAce(aces[1], ACCESS_ALLOWED_ACE_TYPE, 3, GENERIC_ALL, VSID::system().sid);
    expectAce(aces[2], ACCESS_ALLOWED_ACE_TYPE, 2, 0x1300E7, VSID::everyone().sid);
    expectAce(aces[3], ACCESS_ALLOWED_ACE_TYPE, 9, 0x130080, VSID::everyone().sid);
  };
  // Read back through a kernel object, which keeps its descriptor on every system.
  HANDLE event = CreateEventW(const_cast<SECURITY_ATTRIBUTES*>(&descriptor.attributes), TRUE, FALSE, nullptr);
  ASSERT_NE(event, nullptr);
  StoredDacl onEvent;
  ASSERT_EQ(GetSecurityInfo(event, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &onEvent.dacl,
                            nullptr, &onEvent.descriptor),
            ERROR_SUCCESS);
  expectRecyclerEntries(onEvent.aces());
  CloseHandle(event);

  TempFolder folder;
  const std::wstring loss = fileDaclLoss(folder.file(L"probe.txt"));
  const std::wstring path = folder.path + L"\\recycler";
  ASSERT_TRUE(CreateDirectoryW(path.c_str(), const_cast<SECURITY_ATTRIBUTES*>(&descriptor.attributes)));
  StoredDacl stored;
  readFile(path, stored);
  if (!loss.empty()) {
    GTEST_SKIP() << loss << "; a folder created with the recycler descriptor reads back " << sddlText(stored.descriptor);
  }
  expectRecyclerEntries(stored.aces());
}

TEST(SecurityDescriptorTest, EntriesOwnTheirSids) {
  SecurityEntryList list = grantEntry(VSID::everyone(), GENERIC_READ, true);
  const SecurityEntryList joined = list + grantEntry(VSID::system(), GENERIC_ALL, false);
  list.entries.clear();
  ASSERT_EQ(joined.entries.size(), 2u);
  for (const SecurityEntry& e : joined.entries) EXPECT_EQ(static_cast<PSID>(e.entry.Trustee.ptstrName), e.sid.sid);
  EXPECT_EQ(sidString(joined.entries[0].sid.sid), L"S-1-1-0");
  EXPECT_EQ(joined.entries[0].entry.Trustee.TrusteeType, TRUSTEE_IS_GROUP);
  EXPECT_EQ(joined.entries[1].entry.Trustee.TrusteeType, TRUSTEE_IS_USER);
}

TEST(ObjectSecurityTest, NullDaclReadsAsEveryoneFullControl) {
  // A registry key keeps its descriptor here, so the null DACL is really read back.
  TempKey key;
  ASSERT_EQ(key.created, ERROR_SUCCESS);
  ASSERT_EQ(SetNamedSecurityInfoW(const_cast<wchar_t*>(key.name.c_str()), SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION,
                                  nullptr, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  StoredDacl stored;
  readKey(key, stored);
  ASSERT_EQ(stored.dacl, nullptr) << "the system did not keep the null DACL: " << sddlText(stored.descriptor);
  const Acl acl = RunTime::Access::getSecurity(key.name.c_str(), SE_REGISTRY_KEY);
  ASSERT_EQ(acl.aceCount(), 1u);
  expectAce(acl.getAce(0), ACCESS_ALLOWED_ACE_TYPE, 3, GENERIC_ALL, VSID::everyone().sid);
}

TEST(ObjectSecurityTest, NullDaclOfAFileReadsAsEveryoneFullControl) {
  TempFolder folder;
  const std::wstring path = folder.file(L"open.txt");
  const std::wstring loss = fileDaclLoss(path);
  if (!loss.empty()) GTEST_SKIP() << loss;
  ASSERT_EQ(SetNamedSecurityInfoW(const_cast<wchar_t*>(path.c_str()), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                  nullptr, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  const Acl acl = RunTime::Access::getSecurity(path.c_str(), SE_FILE_OBJECT);
  ASSERT_EQ(acl.aceCount(), 1u);
  expectAce(acl.getAce(0), ACCESS_ALLOWED_ACE_TYPE, 3, GENERIC_ALL, VSID::everyone().sid);
}

TEST(ObjectSecurityTest, FailuresNameThePathWithoutPrefix) {
  TempFolder folder;
  const std::wstring missing = folder.path + L"\\missing.txt";
  const auto e = raised<VFileNotFoundException>(
      [&] { RunTime::Access::getSecurity((L"\\\\?\\" + missing).c_str(), SE_FILE_OBJECT); });
  EXPECT_NE(e.message.find(L"Unable to get the object (" + missing + L") security info"), std::wstring::npos)
      << e.message;
  EXPECT_EQ(e.sites.at(0).function, "RunTime::Access::getSecurity");
  EXPECT_THROW(RunTime::Access::setOwner(missing.c_str(), SE_FILE_OBJECT), VFileNotFoundException);
}

// Every entry explicit, the grants leading the allow entries (after the remaining deny
// entries, of which there are keptDenials), and no deny entry for any SID of the caller's token.
void expectTakenOver(const std::vector<Ace>& aces, size_t formerEntries, ACCESS_MASK granted = 0x10100,
                     size_t keptDenials = 0) {
  const RunTime::Sid owner = RunTime::Sid::owner(GetCurrentProcess());
  ASSERT_EQ(aces.size(), 2 + formerEntries);
  ASSERT_LE(keptDenials, formerEntries);
  expectAce(aces[keptDenials], ACCESS_ALLOWED_ACE_TYPE, 3, granted, owner.get());
  expectAce(aces[keptDenials + 1], ACCESS_ALLOWED_ACE_TYPE, 3, granted, RunTime::localSystemSid().get());
  std::vector<std::wstring> callerSids = {sidString(RunTime::Sid::current(GetCurrentProcess()).get()),
                                          sidString(owner.get()), L"S-1-5-18"};
  const auto groups = RunTime::Access::processTokenGroups(GetCurrentProcess());
  const auto* list = reinterpret_cast<const TOKEN_GROUPS*>(groups.get());
  for (DWORD i = 0; i < list->GroupCount; ++i) callerSids.push_back(sidString(list->Groups[i].Sid));
  for (const Ace& entry : aces) {
    EXPECT_EQ(entry.header()->AceFlags & INHERITED_ACE, 0);
    if (entry.header()->AceType != ACCESS_DENIED_ACE_TYPE) continue;
    for (const auto& sid : callerSids) EXPECT_NE(sidString(entry.sid()), sid) << "deny entry left for the caller";
  }
}

// A DACL denying Everyone DELETE, with two inherited grants to Users that merge into one.
Acl stubbornDacl() {
  Acl acl;
  acl.clear();
  Ace ace;
  ace.init(ACCESS_DENIED_ACE_TYPE, 0, DELETE, RunTime::everyoneSid());
  acl.add(&ace, 1);
  ace.init(ACCESS_ALLOWED_ACE_TYPE, INHERITED_ACE, GENERIC_READ, sidFromString(L"S-1-5-32-545"));
  acl.add(&ace, 1);
  ace.init(ACCESS_ALLOWED_ACE_TYPE, INHERITED_ACE | OBJECT_INHERIT_ACE | INHERIT_ONLY_ACE, FILE_GENERIC_READ,
           sidFromString(L"S-1-5-32-545"));
  acl.add(&ace, 1);
  return acl;
}

TEST(ObjectSecurityTest, GrantedAclLeadsWithGrantsAndDropsCallerDenials) {
  const Acl granted = RunTime::Access::grantedAcl(stubbornDacl(), SE_FILE_OBJECT, DELETE | FILE_WRITE_ATTRIBUTES);
  std::vector<Ace> aces;
  for (auto it = granted.begin(); it != granted.end(); ++it) aces.push_back(*it);
  ASSERT_NO_FATAL_FAILURE(expectTakenOver(aces, 1));
  expectAce(aces[2], ACCESS_ALLOWED_ACE_TYPE, OBJECT_INHERIT_ACE, FILE_GENERIC_READ, sidFromString(L"S-1-5-32-545").get());
}

// On a real file (the raising paths run either way): owned by the caller's token owner, with exactly that DACL, protected.
TEST(ObjectSecurityTest, GrantAccessTakesOverAFile) {
  TempFolder folder;
  const std::wstring path = folder.file(L"stubborn.txt");
  const std::wstring loss = fileDaclLoss(path);
  const Acl initial = stubbornDacl();
  ASSERT_EQ(SetNamedSecurityInfoW(const_cast<wchar_t*>(path.c_str()), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                  nullptr, nullptr, initial.get(), nullptr),
            ERROR_SUCCESS);

  RunTime::Access::grantAccess((L"\\\\?\\" + path).c_str(), SE_FILE_OBJECT, DELETE | FILE_WRITE_ATTRIBUTES);

  StoredDacl stored;
  readFile(path, stored);
  if (!loss.empty()) {
    GTEST_SKIP() << loss << "; after grantAccess the file reads back " << sddlText(stored.descriptor)
                 << " (the token owner is " << sidString(RunTime::Sid::owner(GetCurrentProcess()).get()) << ")";
  }
  EXPECT_TRUE(EqualSid(stored.owner, RunTime::Sid::owner(GetCurrentProcess()).get()));
  EXPECT_TRUE(stored.control & SE_DACL_PROTECTED);
  expectTakenOver(stored.aces(), 1);
}

// A key owned by LocalSystem that denies Everyone DELETE and Guests KEY_SET_VALUE, and lets the
// caller's user read it and change its owner and DACL. (Wine lets a key's owner delete it
// whatever its DACL says, so the owner must be outside the caller's token.)
struct StubbornKey {
  StubbornKey() {
    dacl.clear();
    Ace ace;
    ace.init(ACCESS_DENIED_ACE_TYPE, 0, DELETE, RunTime::everyoneSid());
    dacl.add(&ace, 1);
    ace.init(ACCESS_DENIED_ACE_TYPE, 0, KEY_SET_VALUE, sidFromString(L"S-1-5-32-546"));
    dacl.add(&ace, 1);
    ace.init(ACCESS_ALLOWED_ACE_TYPE, 0, READ_CONTROL | WRITE_DAC | WRITE_OWNER | KEY_READ, user);
    dacl.add(&ace, 1);
    ace.init(ACCESS_ALLOWED_ACE_TYPE, INHERITED_ACE, KEY_READ, sidFromString(L"S-1-5-32-545"));
    dacl.add(&ace, 1);
    InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&descriptor, TRUE, dacl.get(), FALSE);
    SetSecurityDescriptorOwner(&descriptor, system.get(), FALSE);
  }
  RunTime::Sid user = RunTime::Sid::current(GetCurrentProcess());
  RunTime::Sid system = RunTime::localSystemSid();
  Acl dacl;
  SECURITY_DESCRIPTOR descriptor{};
};

// Keys keep and enforce their descriptors here, so this is the take-over read back for real.
TEST(ObjectSecurityTest, GrantAccessTakesOverAKey) {
  StubbornKey stubborn;
  TempKey key(&stubborn.descriptor);
  ASSERT_EQ(key.created, ERROR_SUCCESS);
  StoredDacl before;
  readKey(key, before);
  ASSERT_EQ(before.aces().size(), 4u) << sddlText(before.descriptor);
  ASSERT_TRUE(EqualSid(before.owner, stubborn.system.get())) << sddlText(before.descriptor);
  ASSERT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, key.subKey.c_str()), ERROR_ACCESS_DENIED) << "deletable before the take-over";

  RunTime::Access::grantAccess(key.name.c_str(), SE_REGISTRY_KEY, DELETE | KEY_SET_VALUE);

  StoredDacl stored;
  readKey(key, stored);
  EXPECT_TRUE(EqualSid(stored.owner, RunTime::Sid::owner(GetCurrentProcess()).get())) << sddlText(stored.descriptor);
  const auto aces = stored.aces();
  ASSERT_NO_FATAL_FAILURE(expectTakenOver(aces, 3, DELETE | KEY_SET_VALUE, 1));
  // The denial of a SID outside the caller's token stays, ahead of every grant.
  expectAce(aces[0], ACCESS_DENIED_ACE_TYPE, 0, KEY_SET_VALUE, sidFromString(L"S-1-5-32-546").get());
  // The former allow entries, both explicit now, in either order.
  std::vector<std::wstring> allowed = {sidString(aces[3].sid()), sidString(aces[4].sid())};
  std::sort(allowed.begin(), allowed.end());
  EXPECT_EQ(allowed, (std::vector<std::wstring>{sidString(stubborn.user.get()), L"S-1-5-32-545"}));
  EXPECT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, key.subKey.c_str()), ERROR_SUCCESS) << "the grant did not allow the delete";
}

// Protection means nothing is inherited from the parent any more.
TEST(ObjectSecurityTest, GrantAccessProtectsTheDacl) {
  StubbornKey stubborn;
  TempKey key(&stubborn.descriptor);
  ASSERT_EQ(key.created, ERROR_SUCCESS);
  RunTime::Access::grantAccess(key.name.c_str(), SE_REGISTRY_KEY, DELETE | KEY_SET_VALUE);
  StoredDacl stored;
  readKey(key, stored);
  if (stored.control & SE_DACL_PROTECTED) return;

  // Unprotected: tell a system whose SetNamedSecurityInfoW drops the flag from a missing request.
  TempKey probe;
  ASSERT_EQ(probe.created, ERROR_SUCCESS);
  ASSERT_EQ(SetNamedSecurityInfoW(const_cast<wchar_t*>(probe.name.c_str()), SE_REGISTRY_KEY,
                                  DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                  stubborn.dacl.get(), nullptr),
            ERROR_SUCCESS);
  StoredDacl probed;
  readKey(probe, probed);
  ASSERT_FALSE(probed.control & SE_DACL_PROTECTED) << "the system keeps protection, grantAccess did not ask for it";
  GTEST_SKIP() << "SetNamedSecurityInfoW with PROTECTED_DACL_SECURITY_INFORMATION returned 0, yet the key reads back "
                  "control 0x"
               << std::hex << probed.control << " without SE_DACL_PROTECTED (0x1000): this system drops the flag";
}

}  // namespace
