#include "driver/LibraryPtr.h"

#include <gtest/gtest.h>

#include "diagnostics/vexception.h"
#include "driver/VModule.h"
#include "tests/driver/childProcess.h"

TEST(LibraryPtr, LoadsForItsLifetimeAndReportsAMissingLibraryWithTheGivenPath) {
  const std::wstring path = executableFolder() + L"\\.\\samplemodule.dll";
  {
    const RunTime::LibraryPtr library(path);
    EXPECT_NE(library.get(), nullptr);
    EXPECT_EQ(GetModuleHandleW(L"samplemodule.dll"), library.get());
  }
  EXPECT_EQ(GetModuleHandleW(L"samplemodule.dll"), nullptr);

  const std::wstring missing = executableFolder() + L"\\missing\\..\\nothere.dll";
  try {
    RunTime::LibraryPtr library(missing);
    FAIL() << "a missing library loads";
  } catch (const vosexception& e) {
    EXPECT_EQ(e.code, static_cast<uint32_t>(ERROR_MOD_NOT_FOUND));
    const std::wstring text = L" at Unable to load library (" + missing + L")";
    EXPECT_EQ(e.message.substr(e.message.size() - text.size()), text);
    EXPECT_EQ(e.sites.at(0).function + ":" + std::to_string(e.sites[0].line), "RunTime::LibraryPtr::LibraryPtr:1560");
  }
}

TEST(VModule, FindsExportsByNameAndReportsAMissingOne) {
  const RunTime::LibraryPtr library(executableFolder() + L"\\samplemodule.dll");
  EXPECT_EQ(VModule::getProcAddress(library.get(), "SampleModuleTrace"),
            GetProcAddress(library.get(), "SampleModuleTrace"));
  try {
    VModule::getProcAddress(library.get(), "NoSuchExport");
    FAIL() << "a missing export resolves";
  } catch (const vosexception& e) {
    EXPECT_EQ(e.code, static_cast<uint32_t>(ERROR_PROC_NOT_FOUND));
    const std::wstring text = L" at GetProcAddress(NoSuchExport)";
    EXPECT_EQ(e.message.substr(e.message.size() - text.size()), text);
    EXPECT_EQ(e.sites.at(0).function + ":" + std::to_string(e.sites[0].line), "VModule::getProcAddress:47");
  }
}
