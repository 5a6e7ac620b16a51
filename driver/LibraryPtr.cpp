#include "driver/LibraryPtr.h"

#include "diagnostics/vexception.h"
#include "platform/VFileName.h"
#include "platform/formatString.h"

namespace RunTime {

LibraryPtr::LibraryPtr(const std::wstring& path) {
  module = LoadLibraryW(VFileName::normalize(path).c_str());
  if (module == nullptr) {
    const DWORD code = GetLastError();
    throwOSError(formatString(L"Unable to load library (%s)", path), code,
                 ExceptionSite("RunTime::LibraryPtr::LibraryPtr", 1560));
  }
}

LibraryPtr::~LibraryPtr() {
  if (module != nullptr) FreeLibrary(module);
}

}  // namespace RunTime
