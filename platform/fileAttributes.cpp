#include "platform/fileAttributes.h"

#include "diagnostics/vexception.h"
#include "platform/VFileName.h"
#include "platform/formatString.h"

namespace {

// Fixed sites: the product's logs and other modules know these lines, whatever the source's own.
constexpr SiteName kGetAttributesSite{"getFileAttributes", 51};
constexpr SiteName kSetAttributesSite{"setFileAttributes", 58};
constexpr SiteName kFileExistSite{"fileExist", 89};

}  // namespace

bool isMissingFileError(uint32_t code) { return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND; }

bool fileExist(const std::wstring& path, bool* isDirectory) {
  const std::wstring systemPath = VFileName::longPath(path);
  const DWORD attributes = GetFileAttributesW(systemPath.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    if (isDirectory != nullptr) *isDirectory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    return true;
  }
  if (isMissingFileError(GetLastError())) return false;
  throwLastError(kFileExistSite, L"retrieves attributes for file or directory ", path);
}

uint32_t getFileAttributes(const std::wstring& path) {
  const std::wstring systemPath = VFileName::longPath(path);
  const DWORD attributes = GetFileAttributesW(systemPath.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    throwLastError(kGetAttributesSite, [&] { return formatString(L"GetFileAttributes(%s)", path); });
  }
  return attributes;
}

void setFileAttributes(const std::wstring& path, uint32_t attributes) {
  const std::wstring systemPath = VFileName::longPath(path);
  if (!SetFileAttributesW(systemPath.c_str(), attributes)) {
    throwLastError(kSetAttributesSite, [&] { return formatString(L"SetFileAttributes(%s)", path); });
  }
}
