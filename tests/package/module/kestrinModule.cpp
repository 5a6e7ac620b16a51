// A module built only from the installed prefix: it traces two nested scopes, hands its trace to a child
// run as "kestrinmodule child", translates a hardware fault (its build names no compiler flag: linking
// the crash layer must bring the one it needs) and formats text with the platform layer.
#include <windows.h>

#include <process.h>

#include <cstdio>
#include <string>

#include "diagnostics/crash/seTranslator.h"
#include "driver/OpenTracingDriver.h"
#include "platform/formatString.h"

namespace {

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

}  // namespace

int wmain(int argc, wchar_t**) {
  if (argc > 1) return OpenTracingDriver::StartSpan("childWork", __LINE__, "")->IsEnabled() ? 0 : 1;
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  intptr_t childExit = -1;
  {
    const auto span = OpenTracingDriver::StartSpan(__func__, __LINE__, "outer");
    OpenTracingDriver::StartSpan("inner", __LINE__, "")->SetTag("installed", "yes");
    OpenTracingDriver::InjectCurrentSpan();
    childExit = _wspawnl(_P_WAIT, self, (L"\"" + std::wstring(self) + L"\"").c_str(), L"child", nullptr);
  }
  bool destroyed = false;
  unsigned int caught = 0;
  try {
    const SeTranslatorScope translator([](unsigned int code, EXCEPTION_POINTERS*) { throw code; });
    readNowhere(destroyed);
  } catch (unsigned int code) {
    caught = code;
  }
  std::printf("%s\nchild exit=%d\nfault=0x%08x destroyed=%d\n",
              formatString("tracing %s", OpenTracingDriver::IsEnabled() ? "on" : "off").c_str(),
              static_cast<int>(childExit), caught, destroyed ? 1 : 0);
  return 0;
}
