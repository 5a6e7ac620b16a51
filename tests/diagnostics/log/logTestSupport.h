#pragma once
// Test support for the log tests: a product root of the test's own; log files read back (readBytes).

#include <string>

#include "tests/support/productSettings.h"
#include "tests/support/runProcess.h"

// A fresh product root C:\kestrin-logtest\<name> (emptied first), set as PRODUCT_ROOT_D.
std::wstring makeProductRoot(ProductSettings& values, const std::wstring& name);

std::wstring todaysLogFile(const std::wstring& root, const std::wstring& name);

// UTF-16 LE bytes (without a mark) as wide text.
std::wstring fromUtf16(const std::string& bytes);
