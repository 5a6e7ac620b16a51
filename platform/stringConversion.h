#pragma once
// Conversion between wide (UTF-16) text and narrow text in a given Windows code page.
// Lengths are explicit, so embedded zero characters convert like any other. Characters the
// target code page lacks become its default character; a failure of the system (an unknown
// code page, say) raises through throwOSError with the system's error code.

#include <cstdint>
#include <string>

std::string cstr(const std::wstring& text, uint32_t codePage);
std::wstring wstr(const std::string& text, uint32_t codePage);
