// The library's entry point only reports success: its process-level set-up runs in static
// initialisers, which the loader has already run by the time this is called.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
