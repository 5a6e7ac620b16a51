#pragma once
// The clean-up of a dump folder at unload: only the newest dumps stay.

#include <cstdint>
#include <string>

// Keeps the newest maxCount "*.dmp" files of location by last-write time (equal times in the
// order the folder lists them) and removes the older ones, taking each over first, without the
// recycler. Only files whose extension is ".dmp" are counted, so packed dumps (".zip") and
// anything else stay. A file that cannot be removed is skipped. Never raises: it runs in a
// destructor at unload.
void removeSurplusDumps(const std::wstring& location, uint32_t maxCount) noexcept;
