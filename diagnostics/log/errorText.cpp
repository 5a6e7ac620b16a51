#include "diagnostics/log/errorText.h"

#include "platform/formatString.h"
#include "platform/stringConversion.h"

std::wstring formatExceptionText(const vexception& error) {
  std::wstring text = error.message;
  for (const ExceptionSite& site : error.sites) {
    text += L"\n   at ";
    text += site.context;
    text += L"(";
    text += wstr(site.function, 0);
    text += formatString(L" line %d)", static_cast<int>(site.line));
  }
  return text;
}
