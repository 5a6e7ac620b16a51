#pragma once
// The catch ladder of a function that must not let an exception out: whatever its body raises
// is logged at level Error with a site made of the caller's context text, function and the line
// of the handler that caught it.
//   constexpr LadderLines ladder{322, 327, 332, 336, 340};
//   callLogged(L"Unable to call internalDumpMiniDump(" + path + L")", "internalDumpMiniDump", ladder,
//              [&] { ... });
// Any thread may call it.

#include <cstdint>
#include <string>
#include <utility>

#include "diagnostics/vexception.h"

// Logs the exception being handled at level Error, with the site (context, function, the line of
// lines that belongs to its handler); call it only from a catch block.
//   std::exception -> a new vexception with its text widened, and the site;
//   vexception     -> the caught object itself, with the site appended;
//   _com_error     -> a new vexception described from the COM error (describeComError);
//   cwrpexception  -> a new vexception with the structured-exception text, and the site;
//   anything else  -> a new vexception "Unexpected error", and the site.
// Only what a log listener raises leaves it.
void logCurrentException(const std::wstring& context, const char* function, const LadderLines& lines);

// Runs body; returns true when it completed, false when it raised and the exception was logged.
template <class Body>
bool callLogged(const std::wstring& context, const char* function, const LadderLines& lines, Body&& body) {
  try {
    std::forward<Body>(body)();
    return true;
  } catch (...) {
    logCurrentException(context, function, lines);
    return false;
  }
}
