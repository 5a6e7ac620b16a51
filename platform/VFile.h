#pragma once
// An open file that remembers the name it was opened with, for messages. Used by one thread.

#include <windows.h>

#include <cstdint>
#include <string>

#include "platform/UniqueHandle.h"

class VFile {
 public:
  VFile() = default;
  // Opens as open() does.
  VFile(const std::wstring& name, uint32_t access, uint32_t shareMode, uint32_t creation, uint32_t flags);
  virtual ~VFile() = default;

  // CreateFileW with the arguments as they are (the name is not given the long-path prefix).
  // On success replaces the file held so far; on failure raises through throwOSError and keeps it.
  void open(const std::wstring& name, uint32_t access, uint32_t shareMode, uint32_t creation, uint32_t flags);

  // SetFilePointer; returns the low 32 bits of the new position. Raises when it fails; a position
  // of 0xFFFFFFFF with no error is a position.
  uint32_t seek(int32_t distance, int32_t* distanceHigh, uint32_t moveMethod);

  // WriteFile of count bytes; raises when the write fails, and when whole is true and fewer
  // bytes were written (vexception naming the count and the file).
  void write(const void* data, uint32_t count, bool whole);

  // GetFileSizeEx; raises when it fails.
  uint64_t size() const;

  HANDLE get() const { return handle.get(); }
  const std::wstring& fileName() const { return name; }

  VFile(const VFile&) = delete;
  VFile& operator=(const VFile&) = delete;

 private:
  UniqueFileHandle handle;  // INVALID_HANDLE_VALUE while no file is open
  std::wstring name;
};
