#pragma once
// Test hooks of the file layer, on every platform.  The program itself never
// calls them.
#include <cstdint>
#include <functional>

// After this many more bytes, every write of an open file stores fewer bytes
// than asked (as on a full disk).  A negative value turns it off.
void SetShortWriteAfterForTesting(int64_t bytes);

// Called by a move to another file system or volume once its copy is
// published, just before the source is checked and removed.  Empty turns it
// off.
void SetBeforeSourceRemovalHookForTesting(std::function<void()> hook);
