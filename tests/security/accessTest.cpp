#include <algorithm>

#include "platform/UniqueHandle.h"
#include "platform/VMutex.h"
#include "security/securityDescriptor.h"
#include "security/vsid.h"
#include "securityTestSupport.h"
#include "tests/platform/raised.h"
#include "tests/support/nextHandle.h"

namespace {

// The owner's SID, then the DACL as the system stores it (not canonicalised).
Aces stored(HANDLE object, SE_OBJECT_TYPE type = SE_KERNEL_OBJECT) {
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const SECURITY_INFORMATION what = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
  EXPECT_EQ(GetSecurityInfo(object, type, what, &owner, nullptr, &dacl, nullptr, &descriptor), ERROR_SUCCESS);
  Aces result = describe(dacl);
  result.insert(result.begin(), sidString(owner));
  LocalFree(descriptor);
  return result;
}

const std::wstring kOwner = sidString(RunTime::Sid::owner(GetCurrentProcess()).get());
const std::wstring kUser = [] {  // the token's user, read without the product's code
  BYTE user[256] = {};
  DWORD size = 0;
  GetTokenInformation(GetCurrentProcessToken(), TokenUser, user, sizeof user, &size);
  return sidString(reinterpret_cast<TOKEN_USER*>(user)->User.Sid);
}();

// Descriptors are read back through kernel objects, which keep them on every system, Wine included.
// Every token handle is closed, whether the call succeeds or raises, with or without a thread token.
TEST(Sids, NewObjectsCarryOwnerAndEntriesCopiesAreDeepTheUserComesThroughEveryHandleNoTokenHandleLeaks) {
  VMutex mutex(true, (L"kestrin-security-test-" + std::to_wstring(GetCurrentProcessId())).c_str());
  EXPECT_EQ(stored(mutex.handle.get()), (Aces{kOwner, L"0/3/0x10000000/S-1-1-0"}));
  const SecurityDescriptor descriptor(recyclerSecurityEntries(), false);
  const UniqueKernelHandle event(
      CreateEventW(const_cast<SECURITY_ATTRIBUTES*>(&descriptor.attributes), TRUE, FALSE, nullptr));
  EXPECT_EQ(stored(event.get()), (Aces{kOwner, L"0/3/0x10000000/S-1-5-32-544", L"0/3/0x10000000/S-1-5-18",
                                 L"0/2/0x1300e7/S-1-1-0", L"0/9/0x130080/S-1-1-0"}));

  const UniqueKernelHandle self(OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, GetCurrentProcessId()));
  EXPECT_EQ(sidString(RunTime::Sid::current(self.get()).get()), kUser);
  const auto notAProcess = raised<vosexception>([&] { RunTime::Sid::owner(event.get()); });
  EXPECT_NE(notAProcess.message.find(L"Unable to open process token"), std::wstring::npos) << notAProcess.message;
  EXPECT_EQ(notAProcess.sites.at(0).function, "RunTime::Sid::owner");

  const VSID system = VSID::system();
  const VSID copy(system.sid);
  EXPECT_FALSE(system.isCopy);
  EXPECT_TRUE(copy.isCopy);
  EXPECT_NE(copy.sid, system.sid);
  EXPECT_EQ(sidString(copy.sid), L"S-1-5-18");
  BYTE garbage[16] = {9, 9, 9};
  EXPECT_EQ(VSID(garbage).sid, nullptr);
  RunTime::Sid sid = RunTime::everyoneSid();
  EXPECT_NE(raised<vosexception>([&] { sid.copy(garbage); }).message.find(L"Invalid sid"), std::wstring::npos);
  EXPECT_EQ(sid.get(), nullptr);

  const auto exercise = [&] {
    EXPECT_EQ(sidString(RunTime::Sid::current(GetCurrentProcess()).get()), kUser);
    RunTime::Sid::owner(GetCurrentProcess());
    RunTime::Access::processTokenGroups(GetCurrentProcess());
    RunTime::Access::privilegeExist(L"SeTakeOwnershipPrivilege");
    EXPECT_THROW(RunTime::Access::privilegeExist(L"SeNoSuchPrivilege"), vosexception);
    EXPECT_THROW(RunTime::Access::enablePrivilege(L"SeNoSuchPrivilege"), vosexception);
    EXPECT_THROW(RunTime::Access::processTokenGroups(event.get()), vosexception);
  };
  exercise();
  const uintptr_t before = nextHandleValue(16);
  exercise();
  ASSERT_TRUE(ImpersonateSelf(SecurityImpersonation));
  exercise();
  RevertToSelf();
  EXPECT_EQ(nextHandleValue(16), before);
}

// Users' two inherited generic grants merge as file rights; the key is owned elsewhere, as owners may delete.
TEST(ObjectSecurity, GrantsLeadCallerDenialsGoAKeyIsTakenOverAndANullDaclReadsAsEveryoneFullControl) {
  const auto stubborn = aclOf({L"1/0/0x10000/S-1-1-0", L"0/16/0x80000000/S-1-5-32-545", L"0/25/0x120089/S-1-5-32-545",
                              L"0/0/0x60000000/S-1-5-32-546", L"0/0/0x10000000/S-1-5-32-544"});
  EXPECT_EQ(describe(RunTime::Access::grantedAcl(stubborn, SE_FILE_OBJECT, DELETE | FILE_WRITE_ATTRIBUTES)),
            (Aces{L"0/3/0x10100/" + kOwner, L"0/3/0x10100/S-1-5-18", L"0/0/0x1f01ff/S-1-5-32-544",
                  L"0/0/0x1201b6/S-1-5-32-546", L"0/1/0x120089/S-1-5-32-545"}));
  struct TempKey {
    ~TempKey() {
      SetNamedSecurityInfoW(name.data(), SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr,
                            nullptr);
      RegDeleteKeyW(HKEY_CURRENT_USER, subKey.c_str());
      RegCloseKey(handle);
    }
    std::wstring subKey = L"Software\\kestrin-security-" + std::to_wstring(GetCurrentProcessId());
    std::wstring name = L"CURRENT_USER\\" + subKey;
    HKEY handle = nullptr;
  } key;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, key.subKey.c_str(), 0, nullptr, 0, KEY_READ | WRITE_DAC | WRITE_OWNER,
                            nullptr, &key.handle, nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(SetNamedSecurityInfoW(key.name.data(), SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                  nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(describe(RunTime::Access::getSecurity(key.name.c_str(), SE_REGISTRY_KEY)), Aces{L"0/3/0x10000000/S-1-1-0"});

  PSECURITY_DESCRIPTOR foreign = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
      (L"O:SYD:(D;;SD;;;WD)(D;;0x2;;;BG)(A;;0xe0019;;;" + kUser + L")(A;ID;0x20019;;;BU)").c_str(), SDDL_REVISION_1,
      &foreign, nullptr));
  // Wine's RegCreateKeyExW ignores security attributes; a foreign owner takes SeRestorePrivilege.
  if (RunTime::Access::privilegeExist(L"SeRestorePrivilege")) RunTime::Access::enablePrivilege(L"SeRestorePrivilege");
  ASSERT_TRUE(SetKernelObjectSecurity(key.handle, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, foreign));
  LocalFree(foreign);
  ASSERT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, key.subKey.c_str()), ERROR_ACCESS_DENIED) << "deletable before";

  RunTime::Access::grantAccess(key.name.c_str(), SE_REGISTRY_KEY, DELETE | KEY_SET_VALUE);
  // The denial of a SID outside the caller's token stays; the former allows follow in either order.
  Aces after = stored(key.handle, SE_REGISTRY_KEY);
  ASSERT_EQ(after.size(), 6u);
  std::sort(after.begin() + 4, after.end());
  EXPECT_EQ(after, (Aces{kOwner, L"1/0/0x2/S-1-5-32-546", L"0/3/0x10002/" + kOwner, L"0/3/0x10002/S-1-5-18",
                         L"0/0/0x20019/S-1-5-32-545", L"0/0/0xe0019/" + kUser}));
  EXPECT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, key.subKey.c_str()), ERROR_SUCCESS) << "the grant did not allow it";

  const auto e = raised<VFileNotFoundException>(
      [] { RunTime::Access::getSecurity(L"\\\\?\\C:\\kestrin-missing.txt", SE_FILE_OBJECT); });
  EXPECT_NE(e.message.find(L"Unable to get the object (C:\\kestrin-missing.txt) security info"), std::wstring::npos)
      << e.message;
}

}  // namespace
