// Crash dumps on heap corruption and on faults in translated scopes, and the clean-up of old ones.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>

#include "diagnostics/crash/CrashDumpInfo.h"
#include "diagnostics/crash/crashDump.h"
#include "diagnostics/crash/seTranslator.h"
#include "diagnostics/vexception.h"
#include "platform/VDateTime.h"
#include "platform/formatString.h"
#include "platform/stringConversion.h"
#include "tests/diagnostics/log/logTestSupport.h"
#include "tests/driver/childProcess.h"

static std::vector<std::wstring> dumpNames(const std::wstring& folder) {
  std::vector<std::wstring> names;
  std::error_code absent;
  for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(folder), absent)) {
    if (entry.is_regular_file() && entry.path().extension() == L".dmp") names.push_back(entry.path().filename());
  }
  std::sort(names.begin(), names.end());
  return names;
}

static std::pair<uint32_t, uint32_t> dumpedException(const std::wstring& path) {
  std::string bytes = readBytes(path);
  void* stream = nullptr;
  ULONG size = 0;
  if (bytes.empty() || !MiniDumpReadDumpStream(bytes.data(), ExceptionStream, nullptr, &stream, &size)) return {};
  const auto* exception = static_cast<const MINIDUMP_EXCEPTION_STREAM*>(stream);
  return {exception->ExceptionRecord.ExceptionCode, exception->ThreadId};
}

static std::wstring stampOf(const VDateTime& time) {
  return formatString(L"%04d%02d%02d_%02d%02d%02d", time.year, time.month, time.day, time.hour, time.minute,
                      time.second);
}

class CrashDumps : public ::testing::Test {
 protected:
  CrashDumps() {
    settings.set(L"PRODUCT_ROOT_D", root.path);
    for (const wchar_t* name : {L"CrashDumpsEnabled", L"CrashDumpsLocation", L"CrashDumpsMaxCount"}) {
      settings.remove(name);
    }
  }

  std::wstring dumps() const { return root.path + L"\\etc\\crashdumps"; }

  ScratchFolder root{L"crashroot"};
  ProductSettings settings;
};

// A type-7 dump of a host takes most of a minute under Wine: one run covers name, content and count.
TEST_F(CrashDumps, HeapCorruptionOnTwoThreadsGivesOneNamedDumpEachAndTheHostsHandlerStillRuns) {
  const VDateTime before;
  const ProcessResult result = runHost(L"crashhost.exe", L"heap 2", L"", 500000);
  const VDateTime after;
  ASSERT_EQ(result.exitCode, 0u) << result.output;
  EXPECT_NE(result.output.find("host handler ran 2"), std::string::npos) << result.output;

  const std::vector<std::wstring> names = dumpNames(dumps());
  ASSERT_EQ(names.size(), 2u);
  // The time is between the two readings of the clock; a second dump in that second gets "_2".
  const std::wregex form(L"crashhost(\\d{8}_\\d{6})(_2)?\\.dmp");
  std::vector<uint32_t> threads;
  for (const std::wstring& name : names) {
    std::wsmatch parts;
    ASSERT_TRUE(std::regex_match(name, parts, form)) << cstr(name, CP_UTF8);
    EXPECT_LE(stampOf(before), parts[1].str());
    EXPECT_GE(stampOf(after), parts[1].str());
    const auto [code, thread] = dumpedException(dumps() + L"\\" + name);
    EXPECT_EQ(code, 0xC0000374u);
    threads.push_back(thread);
  }
  EXPECT_NE(threads[0], threads[1]);
}

TEST_F(CrashDumps, WithoutADumpTheHostsHandlerStillRunsAndAFailedDumpIsLogged) {
  settings.set(L"PRODUCT_ROOT_D", L"");
  EXPECT_NE(runHost(L"crashhost.exe", L"heap 1", root.path).output.find("host handler ran 1"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(root.path + L"\\etc"));

  settings.set(L"PRODUCT_ROOT_D", root.path);
  const std::wstring blocker = root.path + L"\\notAFolder";
  std::ofstream(std::filesystem::path(blocker)).put('x');
  settings.set(L"CrashDumpsLocation", blocker);
  EXPECT_NE(runHost(L"crashhost.exe", L"heap 1").output.find("host handler ran 1"), std::string::npos);
  const std::wstring text = fromUtf16(readBytes(todaysLogFile(root.path, L"debug")));
  const size_t line = text.find(L"Error: ");
  EXPECT_NE(text.find(L"Open file '" + blocker + L"\\crashhost", line), std::wstring::npos) << cstr(text, CP_UTF8);
  EXPECT_NE(text.find(L"Unable to call internalDumpMiniDump(" + blocker + L"\\crashhost", line), std::wstring::npos);
  EXPECT_NE(text.find(L"(internalDumpMiniDump line ", line), std::wstring::npos);
}

// An exit that stopped a thread, which may hold the heap's lock, leaves the clean-up to the next end.
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
  // Oldest first, days apart; a folder named like a dump, newer than all, is neither counted nor removed.
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
    ASSERT_EQ(runHost(L"crashhost.exe", run.mode).exitCode, 0u);
    EXPECT_EQ(dumpNames(dumps()), run.left) << "max count " << run.maxCount << ", " << cstr(run.mode, CP_UTF8);
    EXPECT_TRUE(std::filesystem::exists(dumps() + L"\\old.ZIP"));
    EXPECT_TRUE(std::filesystem::exists(folder + L"\\kept.txt"));
  }
}

static __attribute__((noinline)) int readThrough(volatile int* pointer, bool* destroyed) {
  const std::unique_ptr<bool, void (*)(bool*)> witness(destroyed, [](bool* flag) { *flag = true; });
  return *pointer;
}

static void outerTranslator(unsigned int, EXCEPTION_POINTERS*) {}

// In this process, built as every module installing the translator is.
TEST_F(CrashDumps, AFaultInATranslatedScopeIsDumpedAndCaughtWithDestructorsRunAndOutsideOnePassesOn) {
  CrashDumpInfo info;
  registerCrashDumpInfo(&info);
  bool destroyed = false;
  uint32_t code = 0;
  {
    const SeTranslatorScope outer(outerTranslator);
    try {
      const SeTranslatorScope translator(translateStructuredException);
      readThrough(nullptr, &destroyed);
    } catch (const cwrpexception& error) {
      code = error.code;
    }
    EXPECT_EQ(currentSeTranslator(), &outerTranslator);
  }
  registerCrashDumpInfo(nullptr);
  EXPECT_EQ(code, 0xC0000005u);
  EXPECT_TRUE(destroyed);
  const std::vector<std::wstring> names = dumpNames(dumps());
  ASSERT_EQ(names.size(), 1u);
  const std::wstring taken = dumps() + L"\\" + names[0];
  EXPECT_EQ(dumpedException(taken), std::make_pair(0xC0000005u, static_cast<uint32_t>(GetCurrentThreadId())));
  EXPECT_EQ(internalDumpMiniDump(taken, nullptr, MiniDumpNormal), taken.substr(0, taken.size() - 4) + L"_2.dmp");

  static int seen = 0;
  PVOID mine = AddVectoredExceptionHandler(0, [](EXCEPTION_POINTERS* pointers) -> LONG {
    if (pointers->ExceptionRecord->ExceptionCode != EXCEPTION_ACCESS_VIOLATION) return EXCEPTION_CONTINUE_SEARCH;
    ++seen;
    return EXCEPTION_CONTINUE_EXECUTION;
  });
  RaiseException(EXCEPTION_ACCESS_VIOLATION, 0, 0, nullptr);
  RemoveVectoredExceptionHandler(mine);
  EXPECT_EQ(seen, 1);
  EXPECT_EQ(currentSeTranslator(), nullptr);
}

