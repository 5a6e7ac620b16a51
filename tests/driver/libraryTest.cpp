// A failed load or lookup raises the system's code, a text naming what failed, the logs' fixed site.
#include "driver/LibraryPtr.h"

#include <gtest/gtest.h>

#include <functional>

#include "diagnostics/vexception.h"
#include "driver/VModule.h"
#include "tests/support/runProcess.h"

TEST(LibraryPtr, LoadsForItsLifetimeAndAFailedLoadOrLookupNamesWhatFailed) {
  {
    const RunTime::LibraryPtr library(executableFolder() + L"\\.\\samplemodule.dll");
    EXPECT_EQ(GetModuleHandleW(L"samplemodule.dll"), library.get());
    EXPECT_EQ(VModule::getProcAddress(library.get(), "SampleModuleTrace"),
              GetProcAddress(library.get(), "SampleModuleTrace"));
    const std::wstring missing = executableFolder() + L"\\missing\\..\\nothere.dll";
    const struct {
      std::function<void()> call;
      DWORD code;
      std::wstring text;
      std::string site;
    } failures[] = {{[&] { RunTime::LibraryPtr{missing}; }, ERROR_MOD_NOT_FOUND,
                     L" at Unable to load library (" + missing + L")", "RunTime::LibraryPtr::LibraryPtr:1560"},
                    {[&] { VModule::getProcAddress(library.get(), "NoSuchExport"); }, ERROR_PROC_NOT_FOUND,
                     L" at GetProcAddress(NoSuchExport)", "VModule::getProcAddress:47"}};
    for (const auto& failure : failures) {
      try {
        failure.call();
        ADD_FAILURE() << failure.site << " raised nothing";
      } catch (const vosexception& e) {
        EXPECT_EQ(e.code, failure.code);
        EXPECT_EQ(e.message.substr(e.message.size() - failure.text.size()), failure.text);
        EXPECT_EQ(e.sites.at(0).function + ":" + std::to_string(e.sites[0].line), failure.site);
      }
    }
  }
  EXPECT_EQ(GetModuleHandleW(L"samplemodule.dll"), nullptr);
}
