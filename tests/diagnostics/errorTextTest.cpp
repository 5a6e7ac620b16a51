#include "diagnostics/log/errorText.h"

#include <gtest/gtest.h>

TEST(ExceptionText, MessageAloneWithoutSites) {
  vexception e(L"only the message", ExceptionSite("f", 1));
  e.sites.clear();
  EXPECT_EQ(formatExceptionText(e), L"only the message");
}

TEST(ExceptionText, OneLinePerSiteInOrder) {
  vosexception e(0x2fffffffu, L"Unknown thing", ExceptionSite("ExclusiveTask::Initialize", 45));
  e.sites.emplace_back(L"Unable to call internalDumpMiniDump(C:\\d.dmp)", "internalDumpMiniDump", 311);
  EXPECT_EQ(formatExceptionText(e),
            L"Unknown error (Error code 805306367) at Unknown thing"
            L"\n   at (ExclusiveTask::Initialize line 45)"
            L"\n   at Unable to call internalDumpMiniDump(C:\\d.dmp)(internalDumpMiniDump line 311)");
}

TEST(ExceptionText, NegativeLinesAndWideContextsAreKept) {
  vexception e(L"m", ExceptionSite(L"\u00e9tape", "ns::f", -7));
  EXPECT_EQ(formatExceptionText(e), L"m\n   at \u00e9tape(ns::f line -7)");
}
