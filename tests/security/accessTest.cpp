#include <windows.h>

#include <aclapi.h>

#include <gtest/gtest.h>

#include "diagnostics/vexception.h"
#include "security/access.h"
#include "security/securityDescriptor.h"
#include "securityTestSupport.h"

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

// Whether this system keeps a DACL written to a file; some Wine builds silently drop it and
// report a default one, so the file checks can then only be structural.
bool filesKeepDacls(const std::wstring& path) {
  BYTE buffer[128];
  auto* probe = reinterpret_cast<PACL>(buffer);
  InitializeAcl(probe, sizeof buffer, ACL_REVISION);
  AddAccessAllowedAce(probe, ACL_REVISION, 0x7, RunTime::localSystemSid().get());
  if (SetNamedSecurityInfoW(const_cast<wchar_t*>(path.c_str()), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                            nullptr, probe, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  StoredDacl stored;
  readFile(path, stored);
  const auto aces = stored.aces();
  return aces.size() == 1 && aces[0].mask() == 0x7;
}

TEST(AccessHelpersTest, FileRightsAndDisplayPath) {
  EXPECT_EQ(mapFileGenericRights(GENERIC_READ), 0x120089u);
  EXPECT_EQ(mapFileGenericRights(GENERIC_ALL | DELETE), 0x1F01FFu);
  EXPECT_EQ(mapFileGenericRights(GENERIC_WRITE | GENERIC_EXECUTE | 0x1), 0x120116u | 0x1200A0u | 0x1);
  EXPECT_EQ(displayPath(L"\\\\?\\D:\\x"), L"D:\\x");
  EXPECT_EQ(displayPath(L"D:\\x"), L"D:\\x");
}

TEST(SecurityDescriptorTest, MutexCarriesEveryoneFullAccess) {
  const SecurityEntryList entries = mutexSecurityEntries();
  const SecurityDescriptor descriptor(entries, false);
  ASSERT_TRUE(descriptor.valid);
  EXPECT_EQ(descriptor.attributes.nLength, 24u);
  const std::wstring name = L"kestrin-security-test-" + std::to_wstring(GetCurrentProcessId());
  HANDLE mutex = CreateMutexW(const_cast<SECURITY_ATTRIBUTES*>(&descriptor.attributes), FALSE, name.c_str());
  ASSERT_NE(mutex, nullptr);
  StoredDacl stored;
  ASSERT_EQ(GetSecurityInfo(mutex, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &stored.dacl,
                            nullptr, &stored.descriptor),
            ERROR_SUCCESS);
  const auto aces = stored.aces();
  ASSERT_EQ(aces.size(), 1u);
  expectAce(aces[0], ACCESS_ALLOWED_ACE_TYPE, 3, GENERIC_ALL, VSID::everyone().sid);
  CloseHandle(mutex);
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
  if (!filesKeepDacls(folder.file(L"probe.txt"))) GTEST_SKIP() << "this system does not keep file DACLs";
  const std::wstring path = folder.path + L"\\recycler";
  ASSERT_TRUE(CreateDirectoryW(path.c_str(), const_cast<SECURITY_ATTRIBUTES*>(&descriptor.attributes)));
  StoredDacl stored;
  readFile(path, stored);
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
  const Acl everyone = Acl::everyoneFullControl();
  ASSERT_EQ(everyone.aceCount(), 1u);
  expectAce(everyone.getAce(0), ACCESS_ALLOWED_ACE_TYPE, 3, GENERIC_ALL, VSID::everyone().sid);

  TempFolder folder;
  const std::wstring path = folder.file(L"open.txt");
  if (!filesKeepDacls(path)) GTEST_SKIP() << "this system does not keep file DACLs";
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
  try {
    RunTime::Access::getSecurity((L"\\\\?\\" + missing).c_str(), SE_FILE_OBJECT);
    FAIL() << "a missing file has security";
  } catch (const VFileNotFoundException& e) {
    EXPECT_NE(e.message.find(L"Unable to get the object (" + missing + L") security info"), std::wstring::npos)
        << e.message;
    EXPECT_EQ(e.sites.at(0).function, "RunTime::Access::getSecurity");
  }
  EXPECT_THROW(RunTime::Access::setOwner(missing.c_str(), SE_FILE_OBJECT), VFileNotFoundException);
}

// Every entry explicit, grants leading, and no deny entry for any SID of the caller's token.
void expectTakenOver(const std::vector<Ace>& aces, size_t formerEntries) {
  const RunTime::Sid owner = RunTime::Sid::owner(GetCurrentProcess());
  ASSERT_EQ(aces.size(), 2 + formerEntries);
  expectAce(aces[0], ACCESS_ALLOWED_ACE_TYPE, 3, 0x10100, owner.get());
  expectAce(aces[1], ACCESS_ALLOWED_ACE_TYPE, 3, 0x10100, RunTime::localSystemSid().get());
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
  expectTakenOver(aces, 1);
  if (aces.size() == 3) {
    expectAce(aces[2], ACCESS_ALLOWED_ACE_TYPE, OBJECT_INHERIT_ACE, FILE_GENERIC_READ, sidFromString(L"S-1-5-32-545").get());
  }
}

// On a real file (the raising paths run either way): owned by the caller's token owner, with exactly that DACL, protected.
TEST(ObjectSecurityTest, GrantAccessTakesOverAFile) {
  TempFolder folder;
  const std::wstring path = folder.file(L"stubborn.txt");
  const bool keepsDacls = filesKeepDacls(path);
  const Acl initial = stubbornDacl();
  ASSERT_EQ(SetNamedSecurityInfoW(const_cast<wchar_t*>(path.c_str()), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                  nullptr, nullptr, initial.get(), nullptr),
            ERROR_SUCCESS);

  RunTime::Access::grantAccess((L"\\\\?\\" + path).c_str(), SE_FILE_OBJECT, DELETE | FILE_WRITE_ATTRIBUTES);

  StoredDacl stored;
  readFile(path, stored);
  if (!keepsDacls) GTEST_SKIP() << "this system does not keep file security";
  EXPECT_TRUE(EqualSid(stored.owner, RunTime::Sid::owner(GetCurrentProcess()).get()));
  EXPECT_TRUE(stored.control & SE_DACL_PROTECTED);
  expectTakenOver(stored.aces(), 1);
}

}  // namespace
