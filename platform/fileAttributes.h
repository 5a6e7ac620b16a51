#pragma once
// Existence and attributes of files and folders, long paths included. Messages carry the
// caller's path without the long-path prefix.

#include <windows.h>

#include <cstdint>
#include <string>

// Whether a system error code says that a file or folder is missing (codes 2 and 3).
bool isMissingFileError(uint32_t code);

// True when path exists; isDirectory, when given, receives whether it is a folder. A missing
// file or folder (codes 2 and 3) is false and leaves isDirectory untouched; other errors raise.
bool fileExist(const std::wstring& path, bool* isDirectory = nullptr);

// The attribute bits of path; raises through throwOSError on any failure.
uint32_t getFileAttributes(const std::wstring& path);

// Sets the attribute bits of path; raises through throwOSError on failure.
void setFileAttributes(const std::wstring& path, uint32_t attributes);
