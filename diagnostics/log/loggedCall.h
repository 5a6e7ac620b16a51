#pragma once
// The catch ladder of a function that must not let an exception out: whatever its body raises
// is logged at level Error with a site made of the caller's context text, function and line.
//   callLogged(L"Unable to call internalDumpMiniDump(" + path + L")", "internalDumpMiniDump", 311,
//              [&] { ... });
// Any thread may call it.

#include <cstdint>
#include <string>
#include <utility>

// Logs the exception being handled at level Error; call it only from a catch block.
//   std::exception -> a new vexception with its text widened, and the site;
//   vexception     -> the caught object itself, with the site appended;
//   _com_error     -> a new vexception described from the COM error (describeComError);
//   cwrpexception  -> a new vexception with the structured-exception text, and the site;
//   anything else  -> a new vexception "Unexpected error", and the site.
// Only what a log listener raises leaves it.
void logCurrentException(const std::wstring& context, const char* function, int32_t line);

// Runs body; returns true when it completed, false when it raised and the exception was logged.
template <class Body>
bool callLogged(const std::wstring& context, const char* function, int32_t line, Body&& body) {
  try {
    std::forward<Body>(body)();
    return true;
  } catch (...) {
    logCurrentException(context, function, line);
    return false;
  }
}
