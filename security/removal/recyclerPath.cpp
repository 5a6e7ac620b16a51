#include "security/removal/recyclerPath.h"

#include <windows.h>

#include "diagnostics/crash/seTranslator.h"
#include "diagnostics/log/tracedCall.h"
#include "diagnostics/vexception.h"
#include "driver/OpenTracingDriver.h"
#include "platform/ThreadCancelation.h"
#include "platform/VDirectory.h"
#include "platform/VFileName.h"
#include "platform/fileAttributes.h"
#include "platform/formatString.h"
#include "security/securityDescriptor.h"

namespace {

// Fixed sites: the product's logs and other modules know these lines, whatever the source's own.
constexpr int32_t kSpanLine = 1031;
constexpr LadderLines kLadderLines{1075, 1081, 1087, 1093, 1099};
constexpr SiteName kVolumeSite{"recyclerPath", 1036};

// Creates folder with the recycler descriptor unless it exists. A creation that fails because
// another process made the folder meanwhile is not a failure.
void makeRecyclerFolder(const std::wstring& folder) {
  if (fileExist(folder)) return;
  try {
    SecurityDescriptor descriptor(recyclerSecurityEntries(), false);
    VDirectory::createDirectory(folder, &descriptor.attributes);
  } catch (...) {
    if (!fileExist(folder)) throw;
  }
}

}  // namespace

std::wstring recyclerPath(const std::wstring& path) {
  const auto span = OpenTracingDriver::StartSpan("recyclerPath", kSpanLine, "");
  const SeTranslatorScope translator(translateStructuredException);
  ThreadCancelation::CancelationPoint cancelation(1);
  return callTraced(*span, formatString(L"Unable to call recyclerPath(%s)", path), "recyclerPath", kLadderLines, [&] {
    wchar_t volume[MAX_PATH + 1] = {};
    if (!GetVolumePathNameW(path.c_str(), volume, MAX_PATH)) {
      throwLastError(kVolumeSite, [&] { return formatString(L"GetVolumePathName(%s) failed", path); });
    }
    const std::wstring folder = VFileName::combine(volume, L"Recycler");
    makeRecyclerFolder(folder);
    const std::wstring inner = VFileName::combine(folder, L"{86066D57-9347-46a7-B4DB-971D9EF36D29}");
    makeRecyclerFolder(inner);
    return inner;
  });
}
