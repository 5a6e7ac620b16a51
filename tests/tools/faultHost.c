// A host for the dump reading test: loads the provider beside it, then reports heap corruption
// from a function of its own, which makes the provider write a full-memory dump. Its own handler,
// after the provider's, lets it go on and exit normally.
#include <windows.h>

#include <stdio.h>

static volatile LONG faults;

static LONG CALLBACK carryOn(EXCEPTION_POINTERS* pointers) {
  return pointers->ExceptionRecord->ExceptionCode == 0xC0000374 ? EXCEPTION_CONTINUE_EXECUTION
                                                                : EXCEPTION_CONTINUE_SEARCH;
}

// Not inlined and not a tail call, so that it keeps a frame of its own.
__attribute__((noinline)) void corruptRecord(int record) {
  RaiseException(0xC0000374, 0, 0, NULL);
  faults += record;
}

int main(void) {
  if (LoadLibraryW(L"opentracingprovider.dll") == NULL) {
    printf("LoadLibraryW failed: %lu\n", GetLastError());
    return 2;
  }
  AddVectoredExceptionHandler(0, carryOn);
  corruptRecord(1);
  printf("faulted %ld\n", faults);
  return 0;
}
