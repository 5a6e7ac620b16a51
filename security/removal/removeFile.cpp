#include "security/removal/removeFile.h"

#include <windows.h>

#include "diagnostics/vexception.h"
#include "platform/VFileName.h"
#include "platform/fileAttributes.h"
#include "security/access.h"
#include "security/removal/recyclerPath.h"
#include "security/removal/uniqueName.h"

namespace {

// Fixed sites: the product's logs and other modules know these lines, whatever the source's own.
constexpr SiteName kMoveSite{"removeFile", 87};
constexpr SiteName kDeleteSite{"removeFile", 121};

}  // namespace

void removeFile(const std::wstring& path, bool takeOwnership, bool useRecycler, int32_t retries, uint32_t delay) {
  const std::wstring target =
      useRecycler ? VFileName::combine(recyclerPath(path), RunTime::uniqueName(false)) : path;
  // True when the name is free: removed now, or gone already.
  const auto attempt = [&] {
    const BOOL done = useRecycler ? MoveFileExW(path.c_str(), target.c_str(), 0) : DeleteFileW(target.c_str());
    return done || GetLastError() == ERROR_FILE_NOT_FOUND;
  };

  bool removed = attempt();
  if (!removed && takeOwnership) {
    RunTime::Access::grantAccess(path.c_str(), SE_FILE_OBJECT, DELETE | FILE_WRITE_ATTRIBUTES);
    setFileAttributes(path, getFileAttributes(path) & ~static_cast<uint32_t>(FILE_ATTRIBUTE_READONLY));
    removed = attempt();
  }
  for (; !removed && retries > 0; --retries) {
    Sleep(delay);
    removed = attempt();
  }
  if (!removed) {
    if (useRecycler) throwLastError(kMoveSite, L"Move file '", path, L"' to '", target, L"'");
    throwLastError(kDeleteSite, L"DeleteFile '", target, L"'");
  }
  if (useRecycler) DeleteFileW(target.c_str());
}
