#include <gtest/gtest.h>

#include "security/vsid.h"
#include "securityTestSupport.h"
#include "tests/platform/raised.h"
#include "tests/support/nextHandle.h"

namespace {

TEST(Sids, WellKnownOnesAndCopies) {
  const VSID system = VSID::system();
  EXPECT_FALSE(system.isCopy);
  const VSID copy(system.sid);
  EXPECT_TRUE(copy.isCopy);
  EXPECT_NE(copy.sid, system.sid);
  EXPECT_TRUE(EqualSid(copy.sid, system.sid));
  BYTE garbage[16] = {9, 9, 9};
  EXPECT_EQ(VSID(nullptr).sid, nullptr);
  EXPECT_EQ(VSID(garbage).sid, nullptr);

  RunTime::Sid sid = RunTime::everyoneSid();
  sid.accountName = L"stale";
  sid.accountType = SidTypeUser;
  sid.copy(nullptr);
  EXPECT_EQ(sid.get(), nullptr);
  EXPECT_TRUE(sid.accountName.empty());
  EXPECT_EQ(sid.accountType, static_cast<uint32_t>(SidTypeUnknown));
  const auto invalid = raised<vosexception>([&] { sid.copy(garbage); });
  EXPECT_NE(invalid.message.find(L"Invalid sid"), std::wstring::npos);
  EXPECT_EQ(invalid.sites.at(0).function, "RunTime::Sid::copy");
  EXPECT_EQ(sid.get(), nullptr);
}

// Every token handle is closed, whether the call succeeds or raises, with or without a thread token.
TEST(Sids, OfThisProcessThroughEveryHandleAndNoTokenHandleLeaks) {
  HANDLE self = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, GetCurrentProcessId());
  ASSERT_NE(self, nullptr);
  const RunTime::Sid user = RunTime::Sid::current(GetCurrentProcess());
  EXPECT_TRUE(EqualSid(user.get(), RunTime::Sid::current(self).get()));
  EXPECT_TRUE(EqualSid(RunTime::Sid::owner(GetCurrentProcess()).get(), RunTime::Sid::owner(self).get()));
  CloseHandle(self);
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  const auto notAProcess = raised<vosexception>([&] { RunTime::Sid::owner(event); });
  EXPECT_NE(notAProcess.message.find(L"Unable to open process token"), std::wstring::npos) << notAProcess.message;
  EXPECT_EQ(notAProcess.sites.at(0).function, "RunTime::Sid::owner");

  const auto exercise = [&] {
    EXPECT_TRUE(EqualSid(RunTime::Sid::current(GetCurrentProcess()).get(), user.get()));
    RunTime::Sid::owner(GetCurrentProcess());
    RunTime::Access::processTokenGroups(GetCurrentProcess());
    RunTime::Access::privilegeExist(L"SeTakeOwnershipPrivilege");
    EXPECT_THROW(RunTime::Access::privilegeExist(L"SeNoSuchPrivilege"), vosexception);
    EXPECT_THROW(RunTime::Access::enablePrivilege(L"SeNoSuchPrivilege"), vosexception);
    EXPECT_THROW(RunTime::Access::processTokenGroups(event), vosexception);
  };
  exercise();
  const uintptr_t before = nextHandleValue(16);
  exercise();
  ASSERT_TRUE(ImpersonateSelf(SecurityImpersonation));
  exercise();
  RevertToSelf();
  EXPECT_EQ(nextHandleValue(16), before);
  CloseHandle(event);
}

}  // namespace
