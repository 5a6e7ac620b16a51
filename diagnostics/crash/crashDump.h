#pragma once
// Writing full-memory dumps of the process. Any thread may call; dumps are serialised.

#include <windows.h>

#include <dbghelp.h>

#include <string>

class CrashDumpInfo;

// The dump type written for faults: data segments, full memory and handle data (7).
constexpr MINIDUMP_TYPE crashDumpType =
    static_cast<MINIDUMP_TYPE>(MiniDumpWithDataSegs | MiniDumpWithFullMemory | MiniDumpWithHandleData);

// Does nothing when info has dumps off. Otherwise, holding info's writer lock, composes the next
// dump path and, when pointers are given, writes a dump of crashDumpType there. Raises only what
// composing the path raises; a dump that cannot be written is logged.
void writeCrashDump(EXCEPTION_POINTERS* pointers, CrashDumpInfo& info);

// Writes one dump of the process with type, the calling thread's exception pointers (may be
// null) and returns the path written, or an empty string when it failed. A file already under
// path (a dump of another process or thread in the same second) is kept: the dump then goes to
// path with "_2", "_3", ... before ".dmp". Never raises: failures are logged at level Error.
std::wstring internalDumpMiniDump(const std::wstring& path, EXCEPTION_POINTERS* pointers, MINIDUMP_TYPE type);
