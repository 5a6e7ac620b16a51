// A module built only from the installed headers and libraries: it traces two nested scopes through
// the driver, hands its trace to a child run as "kestrinmodule child", turns a hardware fault into a
// C++ exception (its build names no compiler flag: linking the crash layer must bring the one it
// needs) and formats text with the platform layer. Prints "tracing on|off", the child's exit code,
// and the fault caught with whether the faulting frame's destructor ran.
#include <windows.h>

#include <process.h>

#include <cstdio>
#include <string>

#include "diagnostics/crash/seTranslator.h"
#include "driver/OpenTracingDriver.h"
#include "platform/formatString.h"

namespace {

void inner() {
  const auto span = OpenTracingDriver::StartSpan(__func__, __LINE__, "");
  span->SetTag("installed", "yes");
}

struct Witness {
  bool& destroyed;
  ~Witness() { destroyed = true; }
};

// Null, but not as far as the compiler can tell; read even where the value goes unused.
volatile int* volatile nowhere = nullptr;

int readNowhere(bool& destroyed) {
  const Witness witness{destroyed};
  return *nowhere;
}

void throwCode(unsigned int code, EXCEPTION_POINTERS*) { throw code; }

// Runs this executable with "child", inheriting the environment the injection wrote; its exit code.
int runChild() {
  wchar_t self[MAX_PATH];
  if (GetModuleFileNameW(nullptr, self, MAX_PATH) == 0) return -1;
  const std::wstring quoted = L"\"" + std::wstring(self) + L"\"";
  return static_cast<int>(_wspawnl(_P_WAIT, self, quoted.c_str(), L"child", nullptr));
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc > 1 && std::wstring(argv[1]) == L"child") {
    const auto span = OpenTracingDriver::StartSpan("childWork", __LINE__, "");
    return span->IsEnabled() ? 0 : 1;
  }
  int childExit = -1;
  {
    const auto span = OpenTracingDriver::StartSpan(__func__, __LINE__, "outer");
    inner();
    OpenTracingDriver::InjectCurrentSpan();
    childExit = runChild();
  }
  std::printf("%s\n", formatString("tracing %s", OpenTracingDriver::IsEnabled() ? "on" : "off").c_str());
  std::printf("child exit=%d\n", childExit);
  bool destroyed = false;
  unsigned int caught = 0;
  try {
    const SeTranslatorScope translator(throwCode);
    readNowhere(destroyed);
  } catch (unsigned int code) {
    caught = code;
  }
  std::printf("fault=0x%08x destroyed=%d\n", caught, destroyed ? 1 : 0);
  return 0;
}
