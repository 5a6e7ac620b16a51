#include "diagnostics/log/consoleSink.h"

#include <windows.h>

#include <cstdio>

#include "diagnostics/LogSettings.h"
#include "platform/stringConversion.h"

void writeToConsole(LogSettings& settings, const std::wstring& text) noexcept {
  try {
    std::string line = cstr(text, CP_UTF8);
    if (settings.consoleStarted != 0) line.insert(0, 1, '\n');
    settings.consoleStarted = 1;
    // One write per message, so that a message is not split by another thread's.
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
  } catch (...) {
  }
}
