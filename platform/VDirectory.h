#pragma once
// Creation of folders with every missing parent.

#include <windows.h>

#include <string>

namespace VDirectory {

// Creates path and its missing parents, parents first, each with attributes (may be null).
// Whatever already exists under path, file or folder, is accepted. An empty path, or a relative
// one whose parents run out, raises ArgumentException; system failures raise through throwOSError.
void createDirectory(const std::wstring& path, SECURITY_ATTRIBUTES* attributes);

}  // namespace VDirectory
