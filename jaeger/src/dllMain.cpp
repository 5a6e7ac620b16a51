// The library's entry point. At process exit the reporters' background threads are already
// gone, so whatever they still hold is sent from here, before Winsock is torn down.

#include <windows.h>

#include "jaeger/src/ExitFlush.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_DETACH && reserved != nullptr) jaegertracing::flushAllAtProcessEnd();
  return TRUE;
}
