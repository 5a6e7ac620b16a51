#include "platform/VFile.h"

#include "diagnostics/vexception.h"
#include "platform/formatString.h"

namespace {

// Fixed sites: the product's logs and other modules know these lines, whatever the source's own.
constexpr SiteName kOpenSite{"VFile::open", 104};
constexpr SiteName kWriteSite{"VFile::write", 130};
constexpr SiteName kShortWriteSite{"VFile::write", 132};
constexpr SiteName kSeekSite{"VFile::seek", 180};

}  // namespace

VFile::VFile(const std::wstring& name, uint32_t access, uint32_t shareMode, uint32_t creation, uint32_t flags) {
  open(name, access, shareMode, creation, flags);
}

void VFile::open(const std::wstring& name, uint32_t access, uint32_t shareMode, uint32_t creation, uint32_t flags) {
  UniqueFileHandle opened(CreateFileW(name.c_str(), access, shareMode, nullptr, creation, flags, nullptr));
  if (!opened) throwLastError(kOpenSite, L"Open file '", name, L"'");
  // Copied before the swap: name may be this file's own name, and a failed copy keeps the old file.
  std::wstring openedName = name;
  handle = std::move(opened);
  this->name = std::move(openedName);
}

uint32_t VFile::seek(int32_t distance, int32_t* distanceHigh, uint32_t moveMethod) {
  // 0xFFFFFFFF is also a valid low half: the system then sets the error code to 0.
  const DWORD low = SetFilePointer(handle.get(), distance, reinterpret_cast<LONG*>(distanceHigh), moveMethod);
  if (low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) {
    throwLastError(kSeekSite, L"Unable seek in file '", name, L"'");
  }
  return low;
}

void VFile::write(const void* data, uint32_t count, bool whole) {
  DWORD written = 0;
  if (!WriteFile(handle.get(), data, count, &written, nullptr)) {
    throwLastError(kWriteSite, L"Write to file '", name, L"'");
  }
  if (whole && written < count) {
    throw vexception(formatString(L"Unable to write %d bytes into file '", count) + name + L"'", kShortWriteSite);
  }
}

uint64_t VFile::size() const {
  LARGE_INTEGER bytes{};
  if (!GetFileSizeEx(handle.get(), &bytes)) throwLastError(KESTRIN_SITE, L"Unable to get the size of file '", name, L"'");
  return static_cast<uint64_t>(bytes.QuadPart);
}
