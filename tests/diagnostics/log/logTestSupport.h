#pragma once
// Test support for the log tests: a product root of the test's own, the test host, and reading
// log files back.

#include <windows.h>

#include <string>
#include <vector>

#include "tests/support/productSettings.h"
#include "tests/support/runProcess.h"

// A fresh product root C:\kestrin-logtest\<name> (emptied first), set as PRODUCT_ROOT_D.
std::wstring makeProductRoot(ProductSettings& values, const std::wstring& name);

// Runs loghost.exe as a Linux command does, with Unix environment assignments before it
// (such as "TZ=Pacific/Kiritimati" or "WINEDEBUG=err+eventlog"): Wine takes the time zone and
// prints its debug channels from the Unix side, which a Windows parent cannot set or capture.
// Waits for it through files in folder; output is the host's standard output, then its
// standard error.
struct UnixRun {
  int exitCode = -1;  // -1 when it did not end within the wait limit
  std::string out;
  std::string err;
};
UnixRun runLogHostUnix(const std::wstring& folder, const std::string& environment, const std::string& arguments);

// The path of today's file of log name under root, as the log names it.
std::wstring todaysLogFile(const std::wstring& root, const std::wstring& name);

// UTF-16 LE bytes (without a mark) as wide text.
std::wstring fromUtf16(const std::string& bytes);
