#pragma once
// Hardware faults (access violations and the other error-severity structured exceptions) as C++
// exceptions, within the scopes that ask for it. A thread's translator is called on the faulting
// thread, with the fault's exception pointers, and is expected to throw.
//
// MSVC builds use the run-time's _set_se_translator. g++ ignores that, so there a vectored
// handler redirects a faulting thread that has a translator into a call of the translator, as if
// the faulting instruction had called it: the faulting frame's destructors run and an outer catch
// receives what the translator throws, provided the faulting code is built with
// -fnon-call-exceptions. Faults that the handler leaves alone: application-defined codes (C++
// exceptions of both compilers among them), non-continuable exceptions and stack overflows.

#include <windows.h>

#include "platform/UniqueHandle.h"

using SeTranslator = void (*)(unsigned int code, EXCEPTION_POINTERS* pointers);

// The translator of the library: writes a dump through the module's registered CrashDumpInfo
// (with no translator installed meanwhile, so that a fault while dumping is not translated again),
// then throws cwrpexception(code). Never returns.
[[noreturn]] void translateStructuredException(unsigned int code, EXCEPTION_POINTERS* pointers);

// The calling thread's translator; null when none is installed.
SeTranslator currentSeTranslator() noexcept;

// Installs translator (null: none) as the calling thread's translator from construction to the
// end of the scope, then puts the previous one back. Scopes nest; create and destroy one on the
// same thread.
class SeTranslatorScope {
 public:
  explicit SeTranslatorScope(SeTranslator translator) noexcept;
  ~SeTranslatorScope();

  SeTranslatorScope(const SeTranslatorScope&) = delete;
  SeTranslatorScope& operator=(const SeTranslatorScope&) = delete;

 private:
#ifdef _MSC_VER
  SeTranslator previous;
#else
  friend LONG CALLBACK redirectFaultToTranslator(EXCEPTION_POINTERS* pointers);
  friend void callTranslatorForFault(SeTranslatorScope* scope);
  friend SeTranslator currentSeTranslator() noexcept;

  SeTranslator translator;
  SeTranslatorScope* enclosing;  // the thread's previous scope, or null
  // The fault being translated, copied out of the dispatcher's frames before they are left.
  EXCEPTION_RECORD record{};
  CONTEXT context{};
  EXCEPTION_POINTERS pointers{};
#endif
};
