#include "platform/VEnvironmentVariables.h"

#include <windows.h>

#include <memory>

#include "diagnostics/vexception.h"

namespace {
struct EnvironmentBlockFree {
  void operator()(wchar_t* block) const { FreeEnvironmentStringsW(block); }
};
}  // namespace

void VEnvironmentVariables::load() {
  std::unique_ptr<wchar_t, EnvironmentBlockFree> block(GetEnvironmentStringsW());
  if (!block)
    throw vexception(L"GetEnvironmentStrings failed", ExceptionSite("VEnvironmentVariables::load", 10));
  load(block.get());
}

void VEnvironmentVariables::load(const wchar_t* block) {
  if (!block)
    throw vexception(L"Parameter is null", ExceptionSite("VEnvironmentVariables::load", 21));
  for (const wchar_t* entry = block; *entry; entry += wcslen(entry) + 1) {
    // Windows keeps the current directory of each drive in hidden variables named "=D:"; the
    // separator is therefore the first "=" after the name's first character, so that each
    // drive keeps its own entry.
    const wchar_t* separator = wcschr(entry + 1, L'=');
    std::wstring name = separator ? std::wstring(entry, separator) : std::wstring(entry);
    std::wstring value = separator ? std::wstring(separator + 1) : std::wstring();
    (*this)[name] = std::move(value);
  }
}
