#pragma once
// The full path of a loaded module; a null handle names the process's executable.
// A path longer than MAX_PATH comes back truncated, as the system returns it.

#include <windows.h>

#include <string>

std::wstring moduleName(HMODULE module);
