#pragma once
// The texts the diagnostics write about an error: every logging sink writes exactly these.

#include <cstdint>
#include <string>

#include "diagnostics/vexception.h"

class _com_error;

// The message, then one line per site in the order they were added:
// "\n   at " + context + "(" + function + " line " + line + ")".
std::wstring formatExceptionText(const vexception& error);

// The message text of a COM error as the compiler's COM support words it: the system's text
// (systemMessage: inserts such as "%1" left in place) without its trailing line break, else
// "IDispatch error #N" or "Unknown error 0x...".
std::wstring comErrorMessage(const _com_error& error);

// A new vexception describing a caught COM error: its message text, " (COM Error %08X" (or
// " (COM Interop Error %08X" for a .NET exception), the error information's description when it
// has one, ")\n   at " and context; one site (function, line) with an empty context.
// Raises a _com_error when the error information cannot be asked for the .NET exception
// interface for another reason than E_NOINTERFACE.
vexception describeComError(const _com_error& error, const std::wstring& context, const char* function,
                            int32_t line);

// "C structured exception: 0x" and the code in lower-case hexadecimal, for example
// "C structured exception: 0xc0000005".
std::wstring describeStructuredException(const cwrpexception& error);
