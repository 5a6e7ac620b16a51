#pragma once
// Whether the process is ending: ExitProcess has stopped every other thread and the loader is
// detaching the libraries. Work done then must not free what those threads held or wait for
// what they may have left locked (the heap's lock among them); the system reclaims it all.
// Any thread may ask; it never raises.

bool processIsEnding() noexcept;
