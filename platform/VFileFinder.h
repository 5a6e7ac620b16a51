#pragma once
// An enumeration of the entries that match a pattern. Idle (no search open, no entry),
// positioned (an entry is current) or exhausted (the search is open, no entry is current).
// first() may be called in any state; close() and the destructor return to idle. Used by one thread.

#include <windows.h>

#include <string>

#include "platform/UniqueHandle.h"

class VFileFinder {
 public:
  VFileFinder() = default;
  virtual ~VFileFinder() = default;

  // Starts afresh on pattern (wildcards allowed, long paths too). False when nothing matches or
  // the folder is missing (codes 2 and 3), leaving the finder idle; raises on any other error.
  bool first(const std::wstring& pattern);
  // The next entry; false when there is none more (exhausted) or no search is open.
  bool next();
  void close();

  std::wstring fileName() const;
  bool isDirectory() const;
  // True for "." and "..", and when no entry is current.
  bool isDots() const;
  FILETIME lastWriteTime() const;

  VFileFinder(const VFileFinder&) = delete;
  VFileFinder& operator=(const VFileFinder&) = delete;

 private:
  UniqueFindHandle handle;
  WIN32_FIND_DATAW entry{};
};
