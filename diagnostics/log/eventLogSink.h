#pragma once
// The event-log sink: logged exceptions as records of the "Kestrin" event log, one event source
// per executable, registered under a machine-wide mutex on first use. Any thread may report.

#include <windows.h>

#include <string>

#include "diagnostics/log/LogLevel.h"

// Writes one record (event id 1; insertion strings: text, the executable's path) of the type the
// level maps to through source. Returns whether it was written; never raises. After a failed
// report the caller drops the source, so that the next report registers it again.
bool reportToEventLog(HANDLE source, LogLevel level, const std::wstring& text) noexcept;

// Opens source (RegisterEventSourceW). When its key does not yet hold TypesSupported 7 and the
// product's EventMessageFile, first creates the log's key with its limits when missing and writes
// those two values, all under the global registration mutex; a registration that stands is only
// read. Returns the handle (null when it fails); raises on registry failures and when
// PRODUCT_ROOT_D cannot be read.
HANDLE registerEventSource(const std::wstring& source);

// Creates the key of the event log logName with MaxSize 8 MiB and Retention 0 when it is
// missing; an existing log keeps its limits. Raises on registry failures.
void configureEventLogLimits(const std::wstring& logName);
