#include "platform/VFileName.h"

#include <windows.h>

#include <pathcch.h>
#include <shlwapi.h>

#include <memory>
#include <vector>

#include "diagnostics/vexception.h"
#include "platform/UniqueHandle.h"
#include "platform/formatString.h"

namespace {

// Fixed sites: the product's logs and other modules know these lines, whatever the source's own.
constexpr SiteName kCombineSite{"VFileName::combine", 70};
constexpr SiteName kRemoveFileSpecSite{"VFileName::removeFileSpec", 149};
constexpr SiteName kExpandSite{"VFileName::expandEnvironmentStrings", 164};

bool isSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

bool isDrive(const std::wstring& piece) { return piece.size() == 2 && piece[1] == L':'; }

bool startsWith(const std::wstring& text, const wchar_t* prefix) {
  return text.compare(0, wcslen(prefix), prefix) == 0;
}

bool equalsIgnoringCase(const std::wstring& piece, const wchar_t* word) {
  return CompareStringOrdinal(piece.c_str(), static_cast<int>(piece.size()), word, -1, TRUE) == CSTR_EQUAL;
}

// The system's results may carry an extended-length or NT prefix that callers never want.
std::wstring withoutLongPrefix(const wchar_t* path) {
  std::wstring text(path);
  if (startsWith(text, L"\\\\?\\") || startsWith(text, L"\\??\\")) text.erase(0, 4);
  return text;
}

std::wstring trimmedSeparators(const std::wstring& path, size_t end) {
  while (end > 0 && isSeparator(path[end - 1])) --end;
  return path.substr(0, end);
}

}  // namespace

std::wstring VFileName::normalize(const std::wstring& path) {
  std::wstring text = path;
  for (wchar_t& c : text) {
    if (c == L'/') c = L'\\';
  }
  std::wstring prefix;
  if (text.size() >= 4 && (startsWith(text, L"\\\\?\\") || startsWith(text, L"\\\\.\\"))) {
    prefix = text.substr(0, 4);
    text.erase(0, 4);
  }
  const bool leading = !text.empty() && text.front() == L'\\';
  const bool trailing = text.size() > 1 && text.back() == L'\\';

  std::vector<std::wstring> pieces;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(L'\\', start);
    if (end == std::wstring::npos) end = text.size();
    const std::wstring piece = text.substr(start, end - start);
    start = end + 1;
    if (piece.empty() || equalsIgnoringCase(piece, L".")) continue;
    if (equalsIgnoringCase(piece, L"..") && !pieces.empty() && !equalsIgnoringCase(pieces.back(), L"..")) {
      // Nothing lies above a drive's root: dropping the drive would turn the path relative.
      if (pieces.size() > 1 || !isDrive(pieces.front())) pieces.pop_back();
    } else {
      pieces.push_back(piece);
    }
  }

  std::wstring result = prefix;
  if (leading) result += L'\\';
  for (size_t i = 0; i < pieces.size(); ++i) {
    if (i != 0) result += L'\\';
    result += pieces[i];
  }
  if (trailing) result += L'\\';
  return result;
}

std::wstring VFileName::addBackslash(const std::wstring& path) {
  if (!path.empty() && path.back() == L'\\') return path;
  return path + L'\\';
}

std::wstring VFileName::longPath(const std::wstring& path) {
  if (path.size() > 1 && path[1] == L':') {
    return L"\\\\?\\" + (path.size() == 2 ? addBackslash(path) : normalize(path));
  }
  return path;
}

std::wstring VFileName::combine(const std::wstring& base, const std::wstring& relative) {
  size_t skip = 0;
  while (skip < relative.size() && isSeparator(relative[skip])) ++skip;
  UniqueLocal<wchar_t> combined;
  const HRESULT result = PathAllocCombine(longPath(base).c_str(), relative.c_str() + skip,
                                          PATHCCH_ALLOW_LONG_PATHS, combined.put());
  if (result != S_OK) {
    throw vexception(formatString(L"PathAllocCombine(%s, %s) failed: error code 0x%lx", base, relative,
                                  static_cast<unsigned long>(result)),
                     kCombineSite);
  }
  return withoutLongPrefix(combined.get());
}

std::wstring VFileName::removeFileSpec(const std::wstring& path) {
  const std::wstring full = longPath(normalize(path));
  std::vector<wchar_t> buffer(full.begin(), full.end());
  buffer.push_back(L'\0');
  const HRESULT result = PathCchRemoveFileSpec(buffer.data(), buffer.size());
  if (result != S_OK && result != S_FALSE) {
    throw vexception(formatString(L"PathCchRemoveFileSpec(%s) failed: error code 0x%lx", path,
                                  static_cast<unsigned long>(result)),
                     kRemoveFileSpecSite);
  }
  return withoutLongPrefix(buffer.data());
}

std::wstring VFileName::expandEnvironmentStrings(const std::wstring& text) {
  DWORD needed = ExpandEnvironmentStringsW(text.c_str(), nullptr, 0);
  std::vector<wchar_t> buffer;
  DWORD size = 0;
  // A variable may grow between the calls; then the text is expanded again into the larger size.
  while (needed > size) {
    size = needed;
    buffer.assign(size + 1, L'\0');
    needed = ExpandEnvironmentStringsW(text.c_str(), buffer.data(), size);
  }
  if (needed != 0) return buffer.data();
  throwLastError(kExpandSite, [&] { return formatString(L"ExpandEnvironmentStrings(%s)", text); });
}

std::wstring VFileName::fileName(const std::wstring& path) { return PathFindFileNameW(path.c_str()); }

std::wstring VFileName::extension(const std::wstring& path) { return PathFindExtensionW(path.c_str()); }

std::wstring VFileName::removeExtension(const std::wstring& path) {
  std::vector<wchar_t> buffer(path.begin(), path.end());
  buffer.push_back(L'\0');
  PathRemoveExtensionW(buffer.data());
  return buffer.data();
}

std::wstring VFileName::removeBackslash(const std::wstring& path) { return trimmedSeparators(path, path.size()); }

std::wstring VFileName::directory(const std::wstring& path) {
  const size_t nameStart = static_cast<size_t>(PathFindFileNameW(path.c_str()) - path.c_str());
  return trimmedSeparators(path, nameStart);
}
