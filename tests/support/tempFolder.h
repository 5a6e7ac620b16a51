#pragma once
// Test support: a fresh folder under the temporary folder, named after the process (tests run
// side by side), removed with everything in it at the end, paths beyond MAX_PATH included.

#include <string>

class TempFolder {
 public:
  explicit TempFolder(const std::wstring& prefix);
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  // Makes an empty file called name in the folder and returns its path.
  std::wstring file(const std::wstring& name) const;
  // A path below the folder well beyond MAX_PATH, made of `levels` components.
  std::wstring longName(int levels) const;

  std::wstring path;
};
