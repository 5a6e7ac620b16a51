#pragma once
// The process's name in its traces: the executable's file name without directory and without
// its last extension, in the system's ANSI code page (characters it lacks become its default
// character).

#include <string>

std::string serviceName();
