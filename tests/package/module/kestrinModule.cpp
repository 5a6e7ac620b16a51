// A module built from the installed prefix alone: traces into a child ("child"), formats text, and translates
// a fault with no compiler flag of its own (linking the crash layer must bring the one it needs).
#include <process.h>

#include <cstdio>
#include <memory>
#include <string>

#include "diagnostics/crash/seTranslator.h"
#include "driver/OpenTracingDriver.h"
#include "platform/formatString.h"

// Null, but not as far as the compiler can tell; read even where the value goes unused.
static volatile int* volatile nowhere = nullptr;

static int readNowhere(bool& destroyed) {
  const std::unique_ptr<bool, void (*)(bool*)> witness(&destroyed, [](bool* flag) { *flag = true; });
  return *nowhere;
}

int wmain(int argc, wchar_t**) {
  if (argc > 1) return OpenTracingDriver::StartSpan("childWork", __LINE__, "")->IsEnabled() ? 0 : 1;
  intptr_t childExit = -1;
  {
    const auto span = OpenTracingDriver::StartSpan(__func__, __LINE__, "outer");
    OpenTracingDriver::StartSpan("inner", __LINE__, "")->SetTag("installed", "yes");
    OpenTracingDriver::InjectCurrentSpan();
    wchar_t self[MAX_PATH];  // argv[0] need not name a file: the module may be started by its bare name
    if (GetModuleFileNameW(nullptr, self, MAX_PATH) != 0) {
      childExit = _wspawnl(_P_WAIT, self, L"kestrinmodule", L"child", nullptr);
    }
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
