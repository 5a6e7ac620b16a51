// dllinfo [path]: loads the DLL (opentracingprovider.dll beside this executable by default),
// lists its exported names and the DLLs it imports, and says where each import was found.
#include <windows.h>
#include <dbghelp.h>

#include <cstdio>
#include <string>

#include "diagnostics/log/errorText.h"
#include "platform/stringConversion.h"

namespace {

template <class T>
T* directory(HMODULE module, USHORT entry) {
  ULONG size = 0;
  return static_cast<T*>(ImageDirectoryEntryToData(module, TRUE, entry, &size));
}

std::wstring foundAt(const char* dll) {
  HMODULE found = GetModuleHandleA(dll);
  if (found == nullptr) return L"(not loaded)";
  wchar_t path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(found, path, MAX_PATH);
  return std::wstring(path, length);
}

int run(const std::wstring& path) {
  HMODULE module = LoadLibraryW(path.c_str());
  if (module == nullptr) {
    const DWORD code = GetLastError();
    try {
      throwOSError(L"LoadLibrary(" + path + L")", code, ExceptionSite("dllinfo", __LINE__));
    } catch (const vexception& error) {
      std::fwprintf(stderr, L"%ls\n", formatExceptionText(error).c_str());
    }
    return 1;
  }
  auto* base = reinterpret_cast<const char*>(module);
  std::printf("%s\n", cstr(path, CP_UTF8).c_str());
  const auto* exports = directory<IMAGE_EXPORT_DIRECTORY>(module, IMAGE_DIRECTORY_ENTRY_EXPORT);
  const DWORD exportCount = exports != nullptr ? exports->NumberOfNames : 0;
  std::printf("exports (%lu):\n", static_cast<unsigned long>(exportCount));
  for (DWORD i = 0; i < exportCount; ++i) {
    const auto* names = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
    std::printf("  %s\n", base + names[i]);
  }
  std::printf("imports:\n");
  for (const auto* import = directory<IMAGE_IMPORT_DESCRIPTOR>(module, IMAGE_DIRECTORY_ENTRY_IMPORT);
       import != nullptr && import->Name != 0; ++import) {
    const char* dll = base + import->Name;
    std::printf("  %-24s %s\n", dll, cstr(foundAt(dll), CP_UTF8).c_str());
  }
  FreeLibrary(module);
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::wstring path;
  if (argc > 1) {
    path = argv[1];
  } else {
    wchar_t self[MAX_PATH];
    std::wstring exe(self, GetModuleFileNameW(nullptr, self, MAX_PATH));
    path = exe.substr(0, exe.find_last_of(L'\\') + 1) + L"opentracingprovider.dll";
  }
  return run(path);
}
