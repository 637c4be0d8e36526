#pragma once
// What a copy to another file system keeps beside the bytes (Linux): the
// extended attributes, POSIX ACLs among them, and the holes of sparse files.
#include <sys/types.h>

namespace fs_posix {
class CopyPace;
}

// Copies the extended attributes of one open file to another: user.*,
// system.posix_acl_* and any other namespace the destination takes,
// security.* where this process may set it; trusted.* never (it belongs to
// the administrator of each file system).  A mark the destination cannot hold
// (no xattr support, no permission, too large) is dropped and the copy goes
// on; false only when a mark cannot be read, or the destination fails as a
// device fails (EIO, a server gone), so the copy must not count as whole.
// Call it after the owner was set: a change of owner clears security.capability.
bool CopyMarks(int from, int to);

// Copies the first size bytes of a sparse file, writing only its data and
// leaving its holes as holes (SEEK_DATA / SEEK_HOLE), so that a file of
// 64 MiB holding a few bytes fits a volume of a few MiB.  1 when copied, 0
// when a read or a write failed, -1 when the file has no hole to keep (all
// its bytes are allocated) or holes cannot be found: the caller copies as
// usual then.  The data goes in the pieces of pace, the holes are told to it
// as passed over.
int CopyKeepingHoles(int in, int out, off_t size, fs_posix::CopyPace& pace);
