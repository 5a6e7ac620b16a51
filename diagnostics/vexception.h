#pragma once
// The exception family of the platform layer. Every failure inside the library is raised as a
// vexception or one of its subclasses; a Windows failure carries its error code, and the common
// codes select a class of their own so that callers can catch, say, a missing file apart from a
// refused access.

#include <cstdint>
#include <string>
#include <type_traits>
#include <vector>

// A raising site's function and line as literals: built without allocating, so that naming a
// site never disturbs the last error of the call that failed. The function is a qualified name, or
// a signature as the compiler writes it, of which the site keeps the qualified name.
//
// Two ways make one. A site whose line the product's logs and other modules know is fixed, whatever
// the line in the source: each file that has such sites lists them once, as SiteName constants in
// one table at its top. Every other site is taken from the compiler where it stands, with
// KESTRIN_SITE.
struct SiteName {
  const char* function;
  int32_t line;
};

// KESTRIN_FUNCTION names the function it stands in, for a helper that raises in its caller's name.
#if defined(_MSC_VER) && !defined(__clang__)
#define KESTRIN_FUNCTION __FUNCTION__
#else
#define KESTRIN_FUNCTION __PRETTY_FUNCTION__
#endif
#define KESTRIN_SITE (SiteName{KESTRIN_FUNCTION, __LINE__})

// The qualified name in a function's signature as the compiler writes it ("int A::f(int)" gives
// "A::f"; a lambda's gives the function it stands in); anonymous namespaces are left out. A plain
// qualified name comes back as it is.
std::string qualifiedFunctionName(const char* signature);

// One place an exception was raised or passed through. The raising site leaves context empty;
// a catch site describes what it was attempting.
struct ExceptionSite {
  std::wstring context;
  std::string function;
  int32_t line = 0;

  ExceptionSite() = default;
  ExceptionSite(std::string function, int32_t line) : function(std::move(function)), line(line) {}
  ExceptionSite(SiteName site) : function(qualifiedFunctionName(site.function)), line(site.line) {}
  ExceptionSite(std::wstring context, std::string function, int32_t line)
      : context(std::move(context)), function(std::move(function)), line(line) {}
};

// The source lines of the five handlers that end a catch ladder, in ladder order: each handler
// names its own line in the site it adds, so a logged site tells which handler caught.
struct LadderLines {
  int32_t standardException;    // std::exception
  int32_t familyException;      // vexception and its subclasses
  int32_t comError;             // _com_error
  int32_t structuredException;  // cwrpexception
  int32_t anyOther;             // anything else
};

// Root of the family: a message and the sites, in the order they were added.
class vexception {
 public:
  vexception(std::wstring message, ExceptionSite site);
  virtual ~vexception();

  std::wstring message;
  std::vector<ExceptionSite> sites;
};

// A Windows failure with its system error code.
class vosexception : public vexception {
 public:
  // text names what failed and may be null; the message is getOSErrorMessage(code, text).
  vosexception(uint32_t code, const wchar_t* text, ExceptionSite site);

  uint32_t code;
};

// Raised for invalid arguments; carries no code.
class ArgumentException : public vexception {
 public:
  using vexception::vexception;
};

// A Windows structured exception, as thrown by the fault translator. Deliberately outside the
// family: only a handler that asks for it by name catches it.
class cwrpexception {
 public:
  explicit cwrpexception(uint32_t code) : code(code) {}

  uint32_t code;
};

#define KESTRIN_OS_EXCEPTION(Name)                                                     \
  class Name : public vosexception {                                                   \
   public:                                                                             \
    Name(uint32_t code, const wchar_t* text, ExceptionSite site)                       \
        : vosexception(code, text, std::move(site)) {}                                 \
  };

KESTRIN_OS_EXCEPTION(VFileNotFoundException)            // 2
KESTRIN_OS_EXCEPTION(VPathNotFoundException)            // 3
KESTRIN_OS_EXCEPTION(VAccessDeniedException)            // 5
KESTRIN_OS_EXCEPTION(VInvalidHandleException)           // 6
KESTRIN_OS_EXCEPTION(VOutOfMemoryException)             // 14
KESTRIN_OS_EXCEPTION(VInvalidDriveException)            // 15
KESTRIN_OS_EXCEPTION(VNotDosDiskException)              // 26
KESTRIN_OS_EXCEPTION(VSharingViolationException)        // 32
KESTRIN_OS_EXCEPTION(VLockViolationException)           // 33
KESTRIN_OS_EXCEPTION(VWrongDiskException)               // 34
KESTRIN_OS_EXCEPTION(VSharingBufferExceededException)   // 36
KESTRIN_OS_EXCEPTION(VEOFException)                     // 38
KESTRIN_OS_EXCEPTION(VFileExistsException)              // 80
KESTRIN_OS_EXCEPTION(VInsufficientBufferException)      // 122
KESTRIN_OS_EXCEPTION(VInvalidNameException)             // 123
KESTRIN_OS_EXCEPTION(VDirectoryNotEmptyException)       // 145
KESTRIN_OS_EXCEPTION(VInvalidPathException)             // 161
KESTRIN_OS_EXCEPTION(VAlreadyExistsException)           // 183
KESTRIN_OS_EXCEPTION(VPipeClosedException)              // 232
KESTRIN_OS_EXCEPTION(VInvalidDirectoryNameException)    // 267
KESTRIN_OS_EXCEPTION(VServiceDoesNotExistException)     // 1060
KESTRIN_OS_EXCEPTION(VServiceMarkedForDeleteException)  // 1072
KESTRIN_OS_EXCEPTION(VServiceAlreadyExistsException)    // 1073
KESTRIN_OS_EXCEPTION(VNoneMappedException)              // 1332
KESTRIN_OS_EXCEPTION(VNoSuchMemberException)            // 1387
KESTRIN_OS_EXCEPTION(VPasswordTooShortException)        // 2245

#undef KESTRIN_OS_EXCEPTION

// The system's own text for a Windows error code or an HRESULT, as FormatMessageW gives it with
// its inserts ("%1") left as they are, less its closing line break; empty when it has none.
std::wstring systemMessage(uint32_t code);

// The system's text for code (trailing line breaks removed, "Unknown error" when it has none),
// then " (Error code N)", then " at " and text when text is not null.
std::wstring getOSErrorMessage(uint32_t code, const wchar_t* text = nullptr);

// The one way to raise a Windows failure: throws the class mapped to code, or a plain
// vosexception for any other code. Take the code right after the failing call.
[[noreturn]] void throwOSError(const wchar_t* text, uint32_t code, ExceptionSite site);
[[noreturn]] void throwOSError(const std::wstring& text, uint32_t code, ExceptionSite site);

// The calling thread's last Windows error code.
uint32_t lastErrorCode();

namespace exception_detail {

inline void appendPiece(std::wstring& text, const wchar_t* piece) {
  if (piece != nullptr) text += piece;
}
inline void appendPiece(std::wstring& text, const std::wstring& piece) { text += piece; }
template <class Build, class = std::enable_if_t<std::is_invocable_r_v<std::wstring, const Build&>>>
void appendPiece(std::wstring& text, const Build& build) {
  text += build();
}

}  // namespace exception_detail

// Raises the calling thread's last error through throwOSError at site. The code is read before
// anything else runs; the text is then joined from pieces, each a wide string or a callable that
// builds one (for texts that need formatting), so nothing the text needs can change the code.
// Call it straight after the failing call.
template <class... Pieces>
[[noreturn]] void throwLastError(SiteName site, const Pieces&... pieces) {
  const uint32_t code = lastErrorCode();
  std::wstring text;
  (exception_detail::appendPiece(text, pieces), ...);
  throwOSError(text, code, ExceptionSite(site));
}
