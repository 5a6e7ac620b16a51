#include "diagnostics/crash/crashDump.h"

#include "diagnostics/crash/CrashDumpInfo.h"
#include "diagnostics/log/loggedCall.h"
#include "diagnostics/vexception.h"
#include "platform/ScopedLock.h"
#include "platform/UniqueHandle.h"
#include "platform/VFile.h"
#include "platform/VFileName.h"
#include "platform/VHandle.h"

namespace {

// Fixed sites: the product's logs and other modules know these lines, whatever the source's own.
constexpr SiteName kDumpSite{"internalDumpMiniDump", 311};
constexpr LadderLines kLadderLines{322, 327, 332, 336, 340};

// Names tried for one dump before giving up: the path itself, then "_2" up to this suffix.
constexpr int lastSuffix = 99;

// Creates the dump file under path, or under the first free variant of it.
VFile createDumpFile(const std::wstring& path) {
  const std::wstring stem = VFileName::removeExtension(path);
  for (int suffix = 1;; ++suffix) {
    const std::wstring name = suffix == 1 ? path : stem + L"_" + std::to_wstring(suffix) + L".dmp";
    try {
      return VFile(name, GENERIC_ALL, FILE_SHARE_READ, CREATE_NEW, FILE_ATTRIBUTE_NORMAL);
    } catch (const VFileExistsException&) {
      if (suffix == lastSuffix) throw;
    }
  }
}

}  // namespace

void writeCrashDump(EXCEPTION_POINTERS* pointers, CrashDumpInfo& info) {
  if (!info.enabled) return;
  ScopedLock<CRITICAL_SECTION> lock(info.writers());
  const std::wstring path = info.getFileName();
  if (pointers != nullptr) internalDumpMiniDump(path, pointers, crashDumpType);
}

std::wstring internalDumpMiniDump(const std::wstring& path, EXCEPTION_POINTERS* pointers, MINIDUMP_TYPE type) {
  std::wstring written;
  callLogged(L"Unable to call internalDumpMiniDump(" + path + L")", "internalDumpMiniDump", kLadderLines, [&] {
    MINIDUMP_EXCEPTION_INFORMATION exception{GetCurrentThreadId(), pointers, TRUE};
    VFile file = createDumpFile(path);
    const auto copy = VHandle::duplicate(file.get());
    if (!MiniDumpWriteDump(GetCurrentProcess(), GetCurrentProcessId(), copy.get(), type,
                           pointers != nullptr ? &exception : nullptr, nullptr, nullptr)) {
      throwLastError(kDumpSite, L"Unable to generate dump file");
    }
    written = file.fileName();
  });
  return written;
}
