// A failed load or lookup raises the system's code, a text naming what failed, the logs' fixed site.
#include "driver/LibraryPtr.h"

#include <gtest/gtest.h>

#include "driver/VModule.h"
#include "tests/platform/raised.h"
#include "tests/support/runProcess.h"

// "<code> at <what failed> @ <site>" of what call raised, without the system's text of the code.
template <class Call>
std::wstring raisedBy(Call call) {
  const vosexception e = raised<vosexception>(call);
  const std::string where = site(e);
  return std::to_wstring(e.code) + e.message.substr(e.message.rfind(L" at ")) + L" @ " +
         std::wstring(where.begin(), where.end());
}

TEST(LibraryPtr, LoadsForItsLifetimeAndAFailedLoadOrLookupNamesWhatFailed) {
  const std::wstring missing = executableFolder() + L"\\missing\\..\\nothere.dll";
  EXPECT_EQ(raisedBy([&] { RunTime::LibraryPtr{missing}; }),
            L"126 at Unable to load library (" + missing + L") @ RunTime::LibraryPtr::LibraryPtr:1560");
  {
    const RunTime::LibraryPtr library(executableFolder() + L"\\.\\samplemodule.dll");
    EXPECT_EQ(VModule::getProcAddress(library.get(), "SampleModuleTrace"),
              GetProcAddress(library.get(), "SampleModuleTrace"));
    EXPECT_EQ(raisedBy([&] { VModule::getProcAddress(library.get(), "NoSuchExport"); }),
              L"127 at GetProcAddress(NoSuchExport) @ VModule::getProcAddress:47");
  }
  EXPECT_EQ(GetModuleHandleW(L"samplemodule.dll"), nullptr);
}
