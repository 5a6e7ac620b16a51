#include "platform/VEnvironmentVariables.h"

#include <windows.h>


#include "diagnostics/vexception.h"
#include "platform/UniqueHandle.h"

namespace {
// Fixed sites: the product's logs and other modules know these lines, whatever the source's own.
constexpr SiteName kLoadBlockSite{"VEnvironmentVariables::load", 10};
constexpr SiteName kLoadNullSite{"VEnvironmentVariables::load", 21};

void freeEnvironmentBlock(wchar_t* block) noexcept { FreeEnvironmentStringsW(block); }
using UniqueEnvironmentBlock = UniqueHandle<NullEmptyTraits<wchar_t*, freeEnvironmentBlock>>;
}  // namespace

void VEnvironmentVariables::load() {
  const UniqueEnvironmentBlock block(GetEnvironmentStringsW());
  if (!block)
    throw vexception(L"GetEnvironmentStrings failed", kLoadBlockSite);
  load(block.get());
}

void VEnvironmentVariables::load(const wchar_t* block) {
  if (!block)
    throw vexception(L"Parameter is null", kLoadNullSite);
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
