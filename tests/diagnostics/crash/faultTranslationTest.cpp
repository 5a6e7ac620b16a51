// Hardware faults inside a translated scope, in this process: built with -fnon-call-exceptions
// because it links the crash layer, as every module installing the translator does.
#include <gtest/gtest.h>

#include <windows.h>

#include "diagnostics/crash/CrashDumpInfo.h"
#include "diagnostics/crash/crashDump.h"
#include "diagnostics/crash/seTranslator.h"
#include "diagnostics/vexception.h"
#include "tests/diagnostics/crash/dumpFiles.h"
#include "tests/support/productSettings.h"
#include "tests/driver/childProcess.h"

namespace {

struct Witness {
  bool* destroyed;
  ~Witness() { *destroyed = true; }
};

__attribute__((noinline)) int readThrough(volatile int* pointer, bool* destroyed) {
  Witness witness{destroyed};
  return *pointer;
}

// Guarded as the library's traced operations are: the translator installed for the call.
int guardedRead(volatile int* pointer, bool* destroyed) {
  const SeTranslatorScope translator(translateStructuredException);
  return readThrough(pointer, destroyed);
}

void outerTranslator(unsigned int, EXCEPTION_POINTERS*) {}

TEST(FaultTranslation, AnAccessViolationIsDumpedAndCaughtAsItsCodeWithDestructorsRun) {
  ProductSettings settings;
  ScratchFolder root(L"faultroot");
  setDumpRoot(settings, root.path);
  CrashDumpInfo info;
  ASSERT_TRUE(info.enabled);
  registerCrashDumpInfo(&info);

  const SeTranslatorScope outer(outerTranslator);
  bool destroyed = false;
  uint32_t code = 0;
  try {
    guardedRead(nullptr, &destroyed);
  } catch (const cwrpexception& error) {
    code = error.code;
  }
  registerCrashDumpInfo(nullptr);
  EXPECT_EQ(code, 0xC0000005u);
  EXPECT_TRUE(destroyed);
  EXPECT_EQ(currentSeTranslator(), &outerTranslator);

  const std::vector<std::wstring> names = dumpNames(info.location);
  ASSERT_EQ(names.size(), 1u);
  const std::wstring taken = info.location + L"\\" + names[0];
  const DumpFacts facts = readDump(taken);
  EXPECT_TRUE(facts.signature);
  EXPECT_EQ(facts.exceptionCode, 0xC0000005u);
  EXPECT_EQ(facts.exceptionThread, GetCurrentThreadId());
  // A second dump under a taken name gets "_2" before ".dmp".
  EXPECT_EQ(internalDumpMiniDump(taken, nullptr, MiniDumpNormal), taken.substr(0, taken.size() - 4) + L"_2.dmp");
  EXPECT_EQ(dumpNames(info.location).size(), 2u);
}

TEST(FaultTranslation, OutsideAScopeAFaultPassesOnUntouched) {
  // The redirection is registered once a scope has been made; a fault outside any scope must
  // still reach the handlers after it as it is.
  { const SeTranslatorScope scope(translateStructuredException); }
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

}  // namespace
