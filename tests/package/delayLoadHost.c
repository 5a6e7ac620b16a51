// Loads a module and tells whether COM came with it:
//   delayloadhost <provider.dll> <probe.dll>
// prints "provider: com <0|1>", then, for the probe, whether loading it brought COM and, after
// its first COM call, that call's result and whether COM is loaded then. Plain C, so that nothing
// but the modules under test can load COM into this process.
#include <windows.h>

#include <stdio.h>

static int comLoaded(void) {
  return GetModuleHandleW(L"ole32.dll") != NULL || GetModuleHandleW(L"oleaut32.dll") != NULL;
}

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) return 2;
  if (LoadLibraryExW(argv[1], NULL, LOAD_WITH_ALTERED_SEARCH_PATH) == NULL) return 3;
  printf("provider: com %d\n", comLoaded());
  HMODULE probe = LoadLibraryExW(argv[2], NULL, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (probe == NULL) return 4;
  printf("probe: com %d\n", comLoaded());
  int (*describe)(void) = (int (*)(void))(void (*)(void))GetProcAddress(probe, "describeComText");
  if (describe == NULL) return 5;
  const int length = describe();
  printf("probe call: %d, com %d\n", length, comLoaded());
  return 0;
}
