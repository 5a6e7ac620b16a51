#include "diagnostics/crash/seTranslator.h"

#include <exception>

#include "diagnostics/crash/CrashDumpInfo.h"
#include "diagnostics/crash/crashDump.h"
#include "diagnostics/vexception.h"
#include "platform/processEnding.h"

#ifdef _MSC_VER
#include <eh.h>
#else
#include "diagnostics/crash/VectoredExceptionHandler.h"
#endif

void translateStructuredException(unsigned int code, EXCEPTION_POINTERS* pointers) {
  {
    const SeTranslatorScope none(nullptr);
    if (CrashDumpInfo* info = registeredCrashDumpInfo()) {
      try {
        writeCrashDump(pointers, *info);
      } catch (...) {
        // The exception below matters more than the dump.
      }
    }
  }
  throw cwrpexception(code);
}

#ifdef _MSC_VER

SeTranslator currentSeTranslator() noexcept {
  const SeTranslator translator = _set_se_translator(nullptr);
  _set_se_translator(translator);
  return translator;
}

SeTranslatorScope::SeTranslatorScope(SeTranslator translator) noexcept
    : previous(_set_se_translator(translator)) {}

SeTranslatorScope::~SeTranslatorScope() { _set_se_translator(previous); }

#else

namespace {

struct ThreadSlotTraits {
  using pointer = DWORD;
  static constexpr pointer empty() noexcept { return TLS_OUT_OF_INDEXES; }
  static bool held(pointer slot) noexcept { return slot != TLS_OUT_OF_INDEXES; }
  static void close(pointer slot) noexcept { TlsFree(slot); }
};

// The thread's innermost scope. A system slot rather than thread_local: the handler reads it on
// a faulting thread, where the emulated thread_local of MinGW could allocate.
DWORD scopeSlot() {
  static const ProcessStatic<UniqueHandle<ThreadSlotTraits>> slot(TlsAlloc());
  return slot.get().get();
}

SeTranslatorScope* innermostScope() {
  const DWORD slot = scopeSlot();
  return slot == TLS_OUT_OF_INDEXES ? nullptr : static_cast<SeTranslatorScope*>(TlsGetValue(slot));
}

bool translatable(const EXCEPTION_RECORD& record) {
  constexpr DWORD errorSeverity = 0xC0000000;
  constexpr DWORD applicationDefined = 0x20000000;
  return (record.ExceptionCode & errorSeverity) == errorSeverity &&
         (record.ExceptionCode & applicationDefined) == 0 &&
         (record.ExceptionFlags & EXCEPTION_NONCONTINUABLE) == 0 &&
         record.ExceptionCode != EXCEPTION_STACK_OVERFLOW;
}

}  // namespace

// Entered, by the redirection below, with the faulting thread's registers as they were at the
// fault and the fault's address as its return address, which makes the faulting frame its
// caller for the unwinder. It aligns the stack (a fault may happen at any alignment) and calls
// callTranslatorForFault(scope), scope being in rcx already.
extern "C" void kestrinTranslatedFault();
asm(R"(
    .text
    .p2align 4
    .def kestrinTranslatedFault; .scl 2; .type 32; .endef
    .globl kestrinTranslatedFault
    .seh_proc kestrinTranslatedFault
kestrinTranslatedFault:
    pushq %rbp
    .seh_pushreg %rbp
    movq %rsp, %rbp
    .seh_setframe %rbp, 0
    .seh_endprologue
    andq $-16, %rsp
    subq $32, %rsp
    call kestrinCallTranslatorForFault
    int3
    .seh_endproc
)");

extern "C" void kestrinCallTranslatorForFault(SeTranslatorScope* scope) { callTranslatorForFault(scope); }

void callTranslatorForFault(SeTranslatorScope* scope) {
  scope->translator(scope->record.ExceptionCode, &scope->pointers);
  std::terminate();  // a translator that returns leaves nothing to resume
}

LONG CALLBACK redirectFaultToTranslator(EXCEPTION_POINTERS* pointers) {
  SeTranslatorScope* scope = innermostScope();
  if (scope == nullptr || scope->translator == nullptr || !translatable(*pointers->ExceptionRecord)) {
    return EXCEPTION_CONTINUE_SEARCH;
  }
  scope->record = *pointers->ExceptionRecord;
  scope->record.ExceptionRecord = nullptr;
  scope->context = *pointers->ContextRecord;
  scope->pointers = EXCEPTION_POINTERS{&scope->record, &scope->context};

  // The return address is one byte into the faulting instruction: the unwinder looks up the
  // instruction before a return address, which then is the faulting one itself, inside the
  // region whose clean-ups must run.
  CONTEXT& thread = *pointers->ContextRecord;
  thread.Rsp -= sizeof(DWORD64);
  *reinterpret_cast<DWORD64*>(thread.Rsp) = thread.Rip + 1;
  thread.Rip = reinterpret_cast<DWORD64>(&kestrinTranslatedFault);
  thread.Rcx = reinterpret_cast<DWORD64>(scope);
  return EXCEPTION_CONTINUE_EXECUTION;
}

namespace {

// Registered once per module on first use, last in the list (where a frame-based translator
// would be met), and removed when the module goes.
void ensureRedirection() {
  static ProcessStatic<VectoredExceptionHandler> redirection;
  static const bool added = (redirection->add(false, redirectFaultToTranslator), true);
  (void)added;
}

}  // namespace

SeTranslator currentSeTranslator() noexcept {
  const SeTranslatorScope* scope = innermostScope();
  return scope == nullptr ? nullptr : scope->translator;
}

SeTranslatorScope::SeTranslatorScope(SeTranslator translator) noexcept
    : translator(translator), enclosing(innermostScope()) {
  if (translator != nullptr) ensureRedirection();
  TlsSetValue(scopeSlot(), this);
}

SeTranslatorScope::~SeTranslatorScope() { TlsSetValue(scopeSlot(), enclosing); }

#endif
