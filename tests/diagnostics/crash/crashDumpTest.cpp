// The provider's crash dumps as a host process meets them: settings read at load, dumps written
// on heap corruption, failures logged, and the clean-up of old dumps at unload.
#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <regex>

#include "platform/UniqueHandle.h"
#include "platform/VDateTime.h"
#include "platform/formatString.h"
#include "platform/stringConversion.h"
#include "tests/diagnostics/crash/dumpFiles.h"
#include "tests/diagnostics/log/logTestSupport.h"
#include "tests/support/productSettings.h"
#include "tests/driver/childProcess.h"

namespace {

bool exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::wstring stampOf(const VDateTime& time) {
  return formatString(L"%04d%02d%02d_%02d%02d%02d", time.year, time.month, time.day, time.hour, time.minute,
                      time.second);
}

class CrashDumps : public ::testing::Test {
 protected:
  CrashDumps() { setDumpRoot(settings, root.path); }

  std::wstring dumps() const { return root.path + L"\\etc\\crashdumps"; }

  ScratchFolder root{L"crashroot"};
  ProductSettings settings;
};

// A type-7 dump of a host takes most of a minute under Wine: two faults at once, one dump each,
// cover the dump's name, content and count in one run.
TEST_F(CrashDumps, HeapCorruptionOnTwoThreadsGivesOneNamedDumpEachAndTheHostsHandlerStillRuns) {
  const VDateTime before;
  const ProcessResult result = runHost(L"crashhost.exe", L"heap 2", L"", 500000);
  const VDateTime after;
  ASSERT_EQ(result.exitCode, 0u) << result.output;
  EXPECT_NE(result.output.find("host handler ran 2"), std::string::npos) << result.output;

  const std::vector<std::wstring> names = dumpNames(dumps());
  ASSERT_EQ(names.size(), 2u);
  // host + date + "_" + time + ".dmp", the time between the two readings of the clock; a name
  // already taken in the same second gets "_2" before ".dmp".
  const std::wregex form(L"crashhost(\\d{8}_\\d{6})(_2)?\\.dmp");
  std::vector<uint32_t> threads;
  for (const std::wstring& name : names) {
    std::wsmatch parts;
    ASSERT_TRUE(std::regex_match(name, parts, form)) << cstr(name, CP_UTF8);
    EXPECT_LE(stampOf(before), parts[1].str());
    EXPECT_GE(stampOf(after), parts[1].str());
    const DumpFacts facts = readDump(dumps() + L"\\" + name);
    EXPECT_TRUE(facts.signature);
    EXPECT_EQ(facts.exceptionCode, 0xC0000374u);
    EXPECT_TRUE(facts.threadListed);
    threads.push_back(facts.exceptionThread);
  }
  EXPECT_NE(threads[0], threads[1]);
}

// Without a dump (switched off, no product root, or a location that is a file) the host's own
// handler still runs; a dump that cannot be written is logged as an error.
TEST_F(CrashDumps, WithoutADumpTheHostsHandlerStillRunsAndAFailedDumpIsLogged) {
  const auto heap = [&] {
    const ProcessResult result = runHost(L"crashhost.exe", L"heap 1", root.path);
    EXPECT_NE(result.output.find("host handler ran 1"), std::string::npos) << result.output;
    return result.output;
  };
  settings.set(L"CrashDumpsEnabled", 0);
  heap();
  EXPECT_FALSE(exists(dumps()));
  settings.set(L"CrashDumpsEnabled", 1);
  settings.set(L"PRODUCT_ROOT_D", L"");
  heap();
  EXPECT_FALSE(exists(root.path + L"\\etc"));

  settings.set(L"PRODUCT_ROOT_D", root.path);
  const std::wstring blocker = root.path + L"\\notAFolder";
  std::ofstream(std::filesystem::path(blocker)).put('x');
  settings.set(L"CrashDumpsLocation", blocker);
  EXPECT_NE(heap().find("Unable to call internalDumpMiniDump("), std::string::npos);
  const std::wstring text = fromUtf16(readBytes(todaysLogFile(root.path, L"debug")));
  const size_t line = text.find(L"Error: ");
  ASSERT_NE(line, std::wstring::npos) << cstr(text, CP_UTF8);
  EXPECT_NE(text.find(L"Open file '" + blocker + L"\\crashhost", line), std::wstring::npos) << cstr(text, CP_UTF8);
  EXPECT_NE(text.find(L"Unable to call internalDumpMiniDump(" + blocker + L"\\crashhost", line), std::wstring::npos);
  EXPECT_NE(text.find(L"(internalDumpMiniDump line ", line), std::wstring::npos);
}

// At FreeLibrary or at exit the newest CrashDumpsMaxCount dumps stay, and one another process holds
// open; with dumps off nothing goes. An exit that stopped a thread (which may hold the heap's lock)
// leaves them to the next clean end.
TEST_F(CrashDumps, CleanUpKeepsTheNewestMaxCountOnlyWhenDumpsAreOn) {
  const struct {
    int enabled, maxCount;
    const wchar_t* mode;
    bool holdOldest;
    std::vector<std::wstring> left;
  } runs[] = {{1, 2, L"load free", false, {L"b.dmp", L"c.dmp"}},
              {1, 0, L"load", false, {}},
              {1, 0, L"load ended", false, {}},
              {1, 0, L"load free", true, {L"a.dmp"}},
              {1, 0, L"load running", false, {L"a.dmp", L"b.dmp", L"c.dmp", L"d.dmp", L"e.dmp"}},
              {0, 0, L"load free", false, {L"a.dmp", L"b.dmp", L"c.dmp", L"d.dmp", L"e.dmp"}}};
  // Oldest first, a few days apart; the packed dump is older than all of them and stays anyway. A
  // folder named like a dump is newer than all of them: neither counted nor removed.
  const std::wstring folder = dumps() + L"\\newest.dmp";
  for (const auto& run : runs) {
    std::filesystem::create_directories(std::filesystem::path(folder));
    std::ofstream(std::filesystem::path(folder + L"\\kept.txt")).put('x');
    FILETIME time{0x10000000, 0x01D00000};
    for (const wchar_t* name : {L"old.ZIP", L"e.dmp", L"a.dmp", L"d.dmp", L"c.dmp", L"b.dmp"}) {
      const UniqueFileHandle file(CreateFileW((dumps() + L"\\" + name).c_str(), GENERIC_WRITE, 0, nullptr,
                                              CREATE_ALWAYS, 0, nullptr));
      SetFileTime(file.get(), nullptr, nullptr, &time);
      time.dwHighDateTime += 0x100;
    }
    settings.set(L"CrashDumpsEnabled", run.enabled);
    settings.set(L"CrashDumpsMaxCount", run.maxCount);
    const UniqueFileHandle held(run.holdOldest ? CreateFileW((dumps() + L"\\a.dmp").c_str(), GENERIC_READ,
                                                             FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr)
                                               : INVALID_HANDLE_VALUE);
    const ProcessResult result = runHost(L"crashhost.exe", run.mode);
    ASSERT_EQ(result.exitCode, 0u) << result.output;
    EXPECT_EQ(dumpNames(dumps()), run.left) << "max count " << run.maxCount << ", " << cstr(run.mode, CP_UTF8);
    EXPECT_TRUE(exists(dumps() + L"\\old.ZIP"));
    EXPECT_TRUE(exists(folder + L"\\kept.txt"));
  }
}

}  // namespace
