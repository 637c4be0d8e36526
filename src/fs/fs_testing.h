#pragma once
// Test hooks of the file layer, on every platform.  The program itself never
// calls them.
#include <cstdint>

// After this many more bytes, every write of an open file stores fewer bytes
// than asked (as on a full disk).  A negative value turns it off.
void SetShortWriteAfterForTesting(int64_t bytes);
