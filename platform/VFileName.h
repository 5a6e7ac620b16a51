#pragma once
// Operations on Windows path names. Backslash is the separator; the operations named below also
// accept "/" on input. Nothing is cached: every operation returns a new string.

#include <string>

class VFileName {
 public:
  // Canonical form: "/" becomes "\", doubled separators, "." and resolvable ".." pieces go;
  // a leading "\\?\" or "\\.\" and one leading and one trailing "\" are kept.
  static std::wstring normalize(const std::wstring& path);

  // The path ending with exactly the "\" it had, or with one added ("" gives "\").
  static std::wstring addBackslash(const std::wstring& path);

  // A drive-letter path normalised and prefixed with "\\?\" (a bare drive gets its root "\");
  // relative, UNC and already prefixed paths come back unchanged.
  static std::wstring longPath(const std::wstring& path);

  // base joined with relative (its leading separators dropped), without a long-path prefix.
  // Raises vexception with the system's HRESULT when the join fails.
  static std::wstring combine(const std::wstring& base, const std::wstring& relative);

  // The path without its last component (a root stays a root), without a long-path prefix.
  // Raises vexception with the system's HRESULT when that fails.
  static std::wstring removeFileSpec(const std::wstring& path);

  // text with each %NAME% replaced by the variable's value; undefined references stay as written.
  // Raises the system's error through throwOSError.
  static std::wstring expandEnvironmentStrings(const std::wstring& text);

  // The part after the last separator, or the whole path.
  static std::wstring fileName(const std::wstring& path);

  // From the last dot of the last component, dot included; empty when it has none.
  static std::wstring extension(const std::wstring& path);

  // The path without extension(path).
  static std::wstring removeExtension(const std::wstring& path);

  // The path without any trailing "\" and "/" characters.
  static std::wstring removeBackslash(const std::wstring& path);

  // The path without fileName(path), then without trailing "\" and "/" characters.
  static std::wstring directory(const std::wstring& path);
};
