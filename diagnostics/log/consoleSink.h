#pragma once
// The console sink: messages on standard output in UTF-8, separated by exactly one newline
// across every module of the process (the shared settings remember whether one was written), with
// no newline after the last. Never raises.

#include <string>

struct LogSettings;

void writeToConsole(LogSettings& settings, const std::wstring& text) noexcept;
