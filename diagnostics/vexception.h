#pragma once
// The exception family of the platform layer. Every failure inside the library is raised as a
// vexception or one of its subclasses; a Windows failure carries its error code, and the common
// codes select a class of their own so that callers can catch, say, a missing file apart from a
// refused access.

#include <cstdint>
#include <string>
#include <vector>

// One place an exception was raised or passed through. The raising site leaves context empty;
// a catch site describes what it was attempting.
struct ExceptionSite {
  std::wstring context;
  std::string function;
  int32_t line = 0;

  ExceptionSite() = default;
  ExceptionSite(std::string function, int32_t line) : function(std::move(function)), line(line) {}
  ExceptionSite(std::wstring context, std::string function, int32_t line)
      : context(std::move(context)), function(std::move(function)), line(line) {}
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

// The system's text for code (trailing line breaks removed, "Unknown error" when it has none),
// then " (Error code N)", then " at " and text when text is not null.
std::wstring getOSErrorMessage(uint32_t code, const wchar_t* text = nullptr);

// The one way to raise a Windows failure: throws the class mapped to code, or a plain
// vosexception for any other code. Take the code right after the failing call.
[[noreturn]] void throwOSError(const wchar_t* text, uint32_t code, ExceptionSite site);
[[noreturn]] void throwOSError(const std::wstring& text, uint32_t code, ExceptionSite site);
