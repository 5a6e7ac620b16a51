#pragma once
// A snapshot of a process environment block as a dictionary from variable name to value.

#include <cwchar>
#include <map>
#include <string>

// Orders names as the run-time's case-insensitive wide comparison does, so that names that
// differ only in letter case are one variable, as Windows treats them.
struct EnvironmentNameLess {
  bool operator()(const std::wstring& a, const std::wstring& b) const {
    return _wcsicmp(a.c_str(), b.c_str()) < 0;
  }
};

class VEnvironmentVariables : public std::map<std::wstring, std::wstring, EnvironmentNameLess> {
 public:
  // Adds the calling process's variables; raises vexception when the block cannot be read.
  void load();
  // Adds the variables of a block of NAME=VALUE strings ended by an empty string. The block
  // stays the caller's; a null block raises vexception.
  void load(const wchar_t* block);
  // True if a variable of that name (in any letter case) is present.
  bool contains(const std::wstring& name) const { return find(name) != end(); }
};
