#pragma once
// The texts the diagnostics write about an error: every logging sink writes exactly these.

#include <string>

#include "diagnostics/vexception.h"

// The message, then one line per site in the order they were added:
// "\n   at " + context + "(" + function + " line " + line + ")".
std::wstring formatExceptionText(const vexception& error);
