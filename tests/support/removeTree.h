#pragma once
// Test support: removes a folder with everything in it, read-only files included; what cannot be
// removed stays.

#include <string>

void removeTree(const std::wstring& folder);
