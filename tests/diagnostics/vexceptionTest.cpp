#include "diagnostics/vexception.h"

#include <windows.h>

#include <gtest/gtest.h>

namespace {

// The system's own sentence for a code, as FormatMessageW gives it, without trailing line breaks.
std::wstring systemText(DWORD code) {
  wchar_t* buffer = nullptr;
  DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, code, 0x400, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::wstring text(buffer != nullptr ? buffer : L"", n);
  if (buffer != nullptr) LocalFree(buffer);
  while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r')) text.pop_back();
  return text;
}

template <class Expected>
void expectThrownAs(uint32_t code) {
  try {
    throwOSError(L"probe", code, ExceptionSite("probe", 1));
    FAIL() << "throwOSError returned";
  } catch (const vosexception& e) {
    EXPECT_EQ(e.code, code);
    EXPECT_TRUE(typeid(e) == typeid(Expected)) << "code " << code << " raised " << typeid(e).name();
  }
}

}  // namespace

TEST(ThrowOSError, MapsEveryTabledCodeToItsClass) {
  expectThrownAs<VFileNotFoundException>(2);
  expectThrownAs<VPathNotFoundException>(3);
  expectThrownAs<VAccessDeniedException>(5);
  expectThrownAs<VInvalidHandleException>(6);
  expectThrownAs<VOutOfMemoryException>(14);
  expectThrownAs<VInvalidDriveException>(15);
  expectThrownAs<VNotDosDiskException>(26);
  expectThrownAs<VSharingViolationException>(32);
  expectThrownAs<VLockViolationException>(33);
  expectThrownAs<VWrongDiskException>(34);
  expectThrownAs<VSharingBufferExceededException>(36);
  expectThrownAs<VEOFException>(38);
  expectThrownAs<VFileExistsException>(80);
  expectThrownAs<VInsufficientBufferException>(122);
  expectThrownAs<VInvalidNameException>(123);
  expectThrownAs<VDirectoryNotEmptyException>(145);
  expectThrownAs<VInvalidPathException>(161);
  expectThrownAs<VAlreadyExistsException>(183);
  expectThrownAs<VPipeClosedException>(232);
  expectThrownAs<VInvalidDirectoryNameException>(267);
  expectThrownAs<VServiceDoesNotExistException>(1060);
  expectThrownAs<VServiceMarkedForDeleteException>(1072);
  expectThrownAs<VServiceAlreadyExistsException>(1073);
  expectThrownAs<VNoneMappedException>(1332);
  expectThrownAs<VNoSuchMemberException>(1387);
  expectThrownAs<VPasswordTooShortException>(2245);
}

TEST(ThrowOSError, UntabledCodesArePlainOsExceptions) {
  expectThrownAs<vosexception>(0);
  expectThrownAs<vosexception>(1074);
  expectThrownAs<vosexception>(87);
  expectThrownAs<vosexception>(0x2fffffffu);
}

TEST(ThrowOSError, CanBeCaughtAtEveryLevelOfTheFamily) {
  EXPECT_THROW(throwOSError(L"x", 2, ExceptionSite("f", 1)), VFileNotFoundException);
  try {
    throwOSError(L"x", 5, ExceptionSite("f", 1));
  } catch (const vosexception& e) {
    EXPECT_EQ(e.code, 5u);
  }
  try {
    throwOSError(L"x", 1073, ExceptionSite("f", 9));
  } catch (const vexception& e) {
    ASSERT_EQ(e.sites.size(), 1u);
    EXPECT_EQ(e.sites[0].function, "f");
    EXPECT_EQ(e.sites[0].line, 9);
    EXPECT_TRUE(e.sites[0].context.empty());
  }
  EXPECT_THROW(throw ArgumentException(L"bad", ExceptionSite("f", 1)), vexception);
  // A structured-exception wrapper is outside the family.
  bool caughtByName = false;
  try {
    try {
      throw cwrpexception(0xc0000005u);
    } catch (const vexception&) {
      FAIL() << "cwrpexception caught as vexception";
    }
  } catch (const cwrpexception& e) {
    caughtByName = e.code == 0xc0000005u;
  }
  EXPECT_TRUE(caughtByName);
}

TEST(OSErrorMessage, ComposesSystemTextCodeAndWhatFailed) {
  const std::wstring denied = systemText(5);
  ASSERT_FALSE(denied.empty());
  EXPECT_EQ(getOSErrorMessage(5, L"create mutex kestrinlog_x_mutex"),
            denied + L" (Error code 5) at create mutex kestrinlog_x_mutex");
  EXPECT_EQ(getOSErrorMessage(2, L"create mutex m"), systemText(2) + L" (Error code 2) at create mutex m");
  EXPECT_EQ(getOSErrorMessage(5), denied + L" (Error code 5)");
  // Code 0 still has a system sentence; trailing line breaks never reach the message.
  const std::wstring zero = getOSErrorMessage(0);
  EXPECT_EQ(zero, systemText(0) + L" (Error code 0)");
  EXPECT_EQ(zero.find_first_of(L"\r\n"), std::wstring::npos);
  EXPECT_EQ(denied.back(), L'.');  // a full stop is kept
}

TEST(OSErrorMessage, UnknownCodeSaysUnknownError) {
  EXPECT_EQ(getOSErrorMessage(0x2fffffffu), L"Unknown error (Error code 805306367)");
  EXPECT_EQ(getOSErrorMessage(0x2fffffffu, L"RegisterEventSource"),
            L"Unknown error (Error code 805306367) at RegisterEventSource");
  try {
    throwOSError(std::wstring(L"step"), 0x2fffffffu, ExceptionSite("f", 1));
  } catch (const vosexception& e) {
    EXPECT_EQ(e.message, L"Unknown error (Error code 805306367) at step");
  }
}

TEST(VException, CopyKeepsAnIndependentSiteList) {
  vexception original(L"boom", ExceptionSite("raise", 1));
  original.sites.emplace_back(L"Unable to call b()", "b", 2);
  original.sites.emplace_back(L"Unable to call c()", "c", 3);
  vexception copy = original;
  original.sites.clear();
  original.message = L"changed";
  ASSERT_EQ(copy.sites.size(), 3u);
  EXPECT_EQ(copy.message, L"boom");
  EXPECT_EQ(copy.sites[0].function, "raise");
  EXPECT_EQ(copy.sites[1].context, L"Unable to call b()");
  EXPECT_EQ(copy.sites[2].line, 3);

  // Thrown by value, a derived exception keeps its class, code and the sites added on the way.
  try {
    try {
      throwOSError(L"t", 32, ExceptionSite("inner", 10));
    } catch (vexception& e) {
      e.sites.emplace_back(L"Unable to call inner()", "outer", 20);
      throw;
    }
  } catch (const VSharingViolationException& e) {
    EXPECT_EQ(e.code, 32u);
    ASSERT_EQ(e.sites.size(), 2u);
    EXPECT_EQ(e.sites[1].function, "outer");
  }
}
