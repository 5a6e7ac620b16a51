#include "platform/VDirectory.h"

#include "diagnostics/vexception.h"
#include "platform/VFileName.h"
#include "platform/fileAttributes.h"
#include "platform/formatString.h"

namespace {

// Fixed sites: the product's logs and other modules know these lines, whatever the source's own.
constexpr SiteName kWrongNameSite{"VDirectory::createDirectory", 100};
constexpr SiteName kMakeDirSite{"makeDir", 44};

void makeDir(const std::wstring& directory, SECURITY_ATTRIBUTES* attributes) {
  const std::wstring systemPath = VFileName::longPath(directory);
  // A folder another process made since the existence test is as good as one made here.
  if (!CreateDirectoryW(systemPath.c_str(), attributes) && GetLastError() != ERROR_ALREADY_EXISTS) {
    throwLastError(kMakeDirSite, [&] { return formatString(L"CreateDirectory(%s)", directory); });
  }
}

}  // namespace

void VDirectory::createDirectory(const std::wstring& path, SECURITY_ATTRIBUTES* attributes) {
  // An empty path, one of separators only, and the parent of a single relative component.
  const std::wstring directory = VFileName::removeBackslash(path);
  if (directory.empty()) throw ArgumentException(L"Unable to create directory with wrong name", kWrongNameSite);
  if (fileExist(directory)) return;
  // A root has no parent: where cutting the last component leaves the path as long as it was
  // (a volume that does not exist), the system is left to report the failure.
  const std::wstring parent = VFileName::removeFileSpec(directory);
  if (VFileName::removeBackslash(parent).size() < directory.size()) createDirectory(parent, attributes);
  makeDir(directory, attributes);
}
