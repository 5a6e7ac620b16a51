#include "diagnostics/dumpCleanup/removeSurplusDumps.h"

#include <windows.h>

#include <algorithm>
#include <vector>

#include "platform/VDateTime.h"
#include "platform/VFileFinder.h"
#include "platform/VFileName.h"
#include "security/removal/removeFile.h"

namespace {

struct Dump {
  std::wstring path;
  VDateTime written;
};

// The dumps in location, oldest first. The pattern "*.dmp" also matches names whose short
// form ends in .DMP ("x.dmpx"), so the extension is checked again.
std::vector<Dump> listDumps(const std::wstring& location) {
  std::vector<Dump> dumps;
  VFileFinder finder;
  for (bool found = finder.first(VFileName::combine(location, L"*.dmp")); found; found = finder.next()) {
    if (finder.isDots() || finder.isDirectory()) continue;
    const std::wstring name = finder.fileName();
    if (_wcsicmp(VFileName::extension(name).c_str(), L".dmp") != 0) continue;
    dumps.push_back(Dump{VFileName::combine(location, name), VDateTime(finder.lastWriteTime())});
  }
  std::stable_sort(dumps.begin(), dumps.end(),
                   [](const Dump& left, const Dump& right) { return left.written < right.written; });
  return dumps;
}

}  // namespace

void removeSurplusDumps(const std::wstring& location, uint32_t maxCount) noexcept {
  try {
    const std::vector<Dump> dumps = listDumps(location);
    for (size_t surplus = dumps.size() > maxCount ? dumps.size() - maxCount : 0, i = 0; i < surplus; ++i) {
      try {
        removeFile(dumps[i].path, true, false, 0, 0);
      } catch (...) {
        // Held open or refused: it stays, and so does the clean-up of the others.
      }
    }
  } catch (...) {
    // The folder cannot be listed: nothing is removed.
  }
}
