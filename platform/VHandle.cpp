#include "platform/VHandle.h"

#include "diagnostics/vexception.h"

namespace {

constexpr SiteName kDuplicateSite{"VHandle::duplicate", 16};

}  // namespace

HANDLE VHandle::duplicate(HANDLE handle) {
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return INVALID_HANDLE_VALUE;
  const HANDLE process = GetCurrentProcess();
  HANDLE copy = nullptr;
  if (!DuplicateHandle(process, handle, process, &copy, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
    throwLastError(kDuplicateSite, L"Unable to duplicate handle");
  }
  return copy;
}
