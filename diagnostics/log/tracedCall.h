#pragma once
// The catch ladder of a function that traces its work: whatever its body raises marks the
// function's span as failed (SetError with the context text), tags the span with the kind of
// the exception and its text, and leaves as a vexception carrying the caller's site (context,
// function, the line of the handler that caught it).
//   constexpr LadderLines ladder{1075, 1081, 1087, 1093, 1099};
//   auto span = OpenTracingDriver::StartSpan("recyclerPath", __LINE__, "");
//   return callTraced(*span, formatString(L"Unable to call recyclerPath(%s)", path.c_str()),
//                     "recyclerPath", ladder, [&] { ... });
// Call it on the thread that owns the span.

#include <cstdint>
#include <string>
#include <utility>

#include "diagnostics/vexception.h"
#include "provider/ISpanContextProvider.h"

// Marks span with the exception being handled and throws it on; call it only from a catch block.
//   kind (tag key)     tag value                             thrown on
//   "std::exception"   its text                              new vexception, text widened, site
//   "vexception"       full text before the site is added    the caught object, site appended
//   "_com_error"       the COM message text                  describeComError(...)
//   "cwrpexception"    the structured-exception text         new vexception with that text, site
//   "unknown"          "..."                                 new vexception "Unexpected error", site
[[noreturn]] void traceCurrentException(OpenTracingDriver::ISpanContextProvider& span, const std::wstring& context,
                                        const char* function, const LadderLines& lines);

// Runs body and returns what it returns; an exception leaves through traceCurrentException.
template <class Body>
decltype(auto) callTraced(OpenTracingDriver::ISpanContextProvider& span, const std::wstring& context,
                          const char* function, const LadderLines& lines, Body&& body) {
  try {
    return std::forward<Body>(body)();
  } catch (...) {
    traceCurrentException(span, context, function, lines);
  }
}
