#include "diagnostics/log/tracedCall.h"

#include <comdef.h>

#include <exception>

#include "diagnostics/log/errorText.h"
#include "platform/stringConversion.h"

void traceCurrentException(OpenTracingDriver::ISpanContextProvider& span, const std::wstring& context,
                           const char* function, const LadderLines& lines) {
  try {
    try {
      throw;
    } catch (...) {
      span.SetError(cstr(context, CP_ACP));
      throw;
    }
  } catch (const std::exception& error) {
    span.SetTag("std::exception", error.what());
    throw vexception(wstr(error.what(), CP_ACP), ExceptionSite(context, function, lines.standardException));
  } catch (vexception& error) {
    span.SetTag("vexception", cstr(formatExceptionText(error), CP_ACP));
    error.sites.emplace_back(context, function, lines.familyException);
    throw;
  } catch (const _com_error& error) {
    span.SetTag("_com_error", cstr(comErrorMessage(error), CP_ACP));
    throw describeComError(error, context, function, lines.comError);
  } catch (const cwrpexception& error) {
    const std::wstring text = describeStructuredException(error);
    span.SetTag("cwrpexception", cstr(text, CP_ACP));
    throw vexception(text, ExceptionSite(context, function, lines.structuredException));
  } catch (...) {
    span.SetTag("unknown", "...");
    throw vexception(L"Unexpected error", ExceptionSite(context, function, lines.anyOther));
  }
}
