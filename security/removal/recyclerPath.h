#pragma once
// The recycler folder of a volume: "Recycler\{86066D57-9347-46a7-B4DB-971D9EF36D29}" in its root,
// where files in the way are moved under fresh names so that their own names are free at once.

#include <string>

// The inner recycler folder of the volume that holds path, both folders created when missing
// with a descriptor that lets every account drop files in and delete them. Runs traced: a span
// "recyclerPath" is open for the call, and hardware faults inside it are dumped and translated.
// Raises vexception (the span marked failed and tagged with the kind of failure); a folder that
// another process created meanwhile is not a failure. Any thread may call.
std::wstring recyclerPath(const std::wstring& path);
