#pragma once
// Test hooks of the Windows file layer: what it makes of attributes and
// error codes that a test cannot produce on every system (cloud-sync and
// deduplicated files, a used-up quota).  The program itself never calls them.
#include <windows.h>

#include "fs/fs.h"

// The kind of a listed entry with these attributes and reparse tag.
EntryKind KindOfListedEntryForTesting(DWORD attributes, DWORD reparseTag);

// The cause a failing system call's error code is reported as.
FileErrorCause FileErrorCauseForTesting(DWORD error);
