#pragma once
// Test support: the dump files in a folder and what a minidump says about its exception.

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/productSettings.h"

// A product setup for dumps: PRODUCT_ROOT_D at root, the other dump values absent.
void setDumpRoot(ProductSettings& settings, const std::wstring& root);

// The names (without folder) of the "*.dmp" files in folder, sorted.
std::vector<std::wstring> dumpNames(const std::wstring& folder);

struct DumpFacts {
  bool signature = false;       // starts with "MDMP"
  uint32_t exceptionThread = 0; // the exception stream's thread, 0 when there is none
  uint32_t exceptionCode = 0;
  bool threadListed = false;    // the exception's thread is in the dump's thread list
};

// Reads the header, exception stream and thread list of the minidump at path.
DumpFacts readDump(const std::wstring& path);
