#include "driver/LibraryPtr.h"

#include "diagnostics/vexception.h"
#include "platform/VFileName.h"
#include "platform/formatString.h"

namespace RunTime {

namespace {
// Fixed sites: the product's logs and other modules know these lines, whatever the source's own.
constexpr SiteName kLoadLibrarySite{"RunTime::LibraryPtr::LibraryPtr", 1560};
}  // namespace

LibraryPtr::LibraryPtr(const std::wstring& path) : UniqueLibrary(LoadLibraryW(VFileName::normalize(path).c_str())) {
  if (!*this) throwLastError(kLoadLibrarySite, [&] { return formatString(L"Unable to load library (%s)", path); });
}

}  // namespace RunTime
