// The library's entry point: its process-level set-up runs in static initialisers, which the
// loader has already run by the time this is called; here it only counts the threads that start
// and end, so that an end of the process that stopped none still cleans up (processEnding.h).
#include <windows.h>

#include "platform/processEnding.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  countThreads(reason);
  return TRUE;
}
