#include "diagnostics/log/loggedCall.h"

#include <comdef.h>

#include <exception>

#include "diagnostics/log/LogManager.h"
#include "diagnostics/log/errorText.h"
#include "platform/stringConversion.h"

void logCurrentException(const std::wstring& context, const char* function, const LadderLines& lines) {
  LogManager& log = LogManager::instance();
  try {
    throw;
  } catch (const std::exception& error) {
    log.log(LogLevel::Error,
            vexception(wstr(error.what(), CP_ACP), ExceptionSite(context, function, lines.standardException)));
  } catch (vexception& error) {
    error.sites.emplace_back(context, function, lines.familyException);
    log.log(LogLevel::Error, error);
  } catch (const _com_error& error) {
    log.log(LogLevel::Error, describeComError(error, context, function, lines.comError));
  } catch (const cwrpexception& error) {
    log.log(LogLevel::Error,
            vexception(describeStructuredException(error), ExceptionSite(context, function, lines.structuredException)));
  } catch (...) {
    log.log(LogLevel::Error, vexception(L"Unexpected error", ExceptionSite(context, function, lines.anyOther)));
  }
}
