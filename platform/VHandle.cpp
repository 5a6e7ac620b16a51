#include "platform/VHandle.h"

#include "diagnostics/vexception.h"

namespace {

// Fixed sites: the product's logs and other modules know these lines, whatever the source's own.
constexpr SiteName kDuplicateSite{"VHandle::duplicate", 16};

}  // namespace

UniqueDuplicateHandle VHandle::duplicate(HANDLE handle) {
  UniqueDuplicateHandle copy;
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return copy;
  const HANDLE process = GetCurrentProcess();
  if (!DuplicateHandle(process, handle, process, copy.put(), 0, FALSE, DUPLICATE_SAME_ACCESS)) {
    throwLastError(kDuplicateSite, L"Unable to duplicate handle");
  }
  return copy;
}
