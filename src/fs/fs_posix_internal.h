#pragma once
// Steps of the POSIX file layer that the tests drive directly, to reach the
// windows between a check and the act that follows it.
#include <functional>

#include "text/byte_string.h"

namespace fs_posix_steps {

// The move itself, without the early "destination already exists" check: it
// must still refuse a destination that exists by the time it runs.
int MoveWithoutPrecheck(const ByteString& source, const ByteString& destination);

// The move to another file system (copy, publish, remove the source), as used
// when a rename meets a device boundary.
int MoveAcrossDevices(const ByteString& source, const ByteString& destination);

// Called after a cross-device copy is complete and flushed, just before it is
// published under its new name.  Empty turns it off.
void SetBeforePublishHookForTesting(std::function<void()> hook);

// False: moves across devices use a named temporary file, as on a file system
// without O_TMPFILE.
void SetUnnamedTempFilesForTesting(bool allowed);

// False: renames behave as on a file system that refuses RENAME_NOREPLACE,
// so moves fall back to link() and unlink().
void SetRenameNoReplaceForTesting(bool allowed);

}  // namespace fs_posix_steps
