#pragma once
// Moving, copying and removing files by path.  OpenFolder (fs/folders.h) does
// the same for the entries of a folder held open.  A move or a copy that
// copies bytes tells progress, when given, how far it got as it goes.
#include "fs/copy_progress.h"
#include "text/byte_string.h"

// Moves a file.  Never replaces an existing destination, also when one
// appears between the check and the move; a move to another file system or
// volume copies, flushes the copy, publishes it under the new name only while
// it is free, and removes the source last, only if it is still the very file
// that was copied and unchanged.  On failure the source stays, and nothing the
// move created is left behind.
[[nodiscard]] bool MoveNoOverwrite(const ByteString& source, const ByteString& destination,
                                   CopyProgress* progress = nullptr);

// Copies a file, replacing an existing destination.  Fails, touching nothing,
// when both name the same file, when the existing destination is read-only,
// when the source is not a regular file, and when the destination is a link
// that the system would not follow for this user (another user's link in a
// shared sticky folder).  Keeps the modification time and permission bits.
// The copy gets its name only when complete: one that fails part-way, or is
// cut short by a crash, leaves the old destination as it was.  A copy that
// replaces a file is flushed before it takes the old one's place.
[[nodiscard]] bool CopyOverwrite(const ByteString& source, const ByteString& destination,
                                 CopyProgress* progress = nullptr);

// Deletes a file.  Refuses a folder, and a read-only file as the Windows
// delete does (on POSIX: a file without any write permission).
[[nodiscard]] bool RemoveFile(const ByteString& path);
