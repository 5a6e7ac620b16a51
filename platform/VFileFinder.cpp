#include "platform/VFileFinder.h"

#include "diagnostics/vexception.h"
#include "platform/VFileName.h"
#include "platform/fileAttributes.h"

namespace {

// Fixed sites: the product's logs and other modules know these lines, whatever the source's own.
constexpr SiteName kFirstSite{"VFileFinder::first", 390};
constexpr SiteName kNextSite{"VFileFinder::next", 401};

}  // namespace

bool VFileFinder::first(const std::wstring& pattern) {
  close();
  const std::wstring systemPattern = VFileName::longPath(pattern);
  handle.reset(FindFirstFileW(systemPattern.c_str(), &entry));
  if (handle) return true;
  if (isMissingFileError(GetLastError())) {
    entry = {};
    return false;
  }
  throwLastError(kFirstSite, L"FindFirstFile(", pattern, L")");
}

bool VFileFinder::next() {
  if (!handle) return false;
  if (FindNextFileW(handle.get(), &entry)) return true;
  if (GetLastError() == ERROR_NO_MORE_FILES) {
    entry = {};
    return false;
  }
  throwLastError(kNextSite, L"FindNextFile");
}

void VFileFinder::close() {
  handle.reset();
  entry = {};
}

std::wstring VFileFinder::fileName() const { return entry.cFileName; }

bool VFileFinder::isDirectory() const { return (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }

bool VFileFinder::isDots() const {
  const std::wstring name = entry.cFileName;
  return name.empty() || name == L"." || name == L"..";
}

FILETIME VFileFinder::lastWriteTime() const { return entry.ftLastWriteTime; }
