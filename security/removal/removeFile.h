#pragma once
// Removal of one file that tries hard: a file already gone counts as removed; one that resists
// can be taken over (owner, DACL, read-only attribute) and retried after pauses; and, with the
// recycler, it is first moved under a fresh name into its volume's recycler folder, so that its
// name is free at once even when the file itself cannot be deleted yet.

#include <cstdint>
#include <string>

// Attempts: one; one more after taking the file over when takeOwnership is set; then up to
// retries more, each after a pause of delay milliseconds. When they are used up, raises through
// throwOSError the error of the last attempt with "DeleteFile '" + path + "'" or, with the
// recycler, "Move file '" + path + "' to '" + target + "'". A failure of the take-over raises at
// once. With the recycler the moved file is then deleted if it can be; one that cannot (a running
// program, say) stays in the recycler folder. Any thread may call.
void removeFile(const std::wstring& path, bool takeOwnership, bool useRecycler, int32_t retries, uint32_t delay);
