#pragma once
// The test file system: a FUSE passthrough that mirrors a backing folder and
// behaves like a file server at the end of a slow or failing network.  It
// counts requests by kind, adds a delay to each, fails chosen requests or
// all of them (a server that went away), and, on a power cut, forgets what
// was never made durable.  Tests steer it through a control socket (see
// fuse_test_fs.h for the client and the commands).
#include <sys/types.h>

#include <cstdint>
#include <string>

namespace testfs {

// The kinds of request counted, one per file-system operation.
enum class Op {
    Getattr, Readlink, Mknod, Mkdir, Unlink, Rmdir, Symlink, Rename, Link, Chmod, Chown, Truncate, Open, Read,
    Write, Statfs, Flush, Release, Fsync, Setxattr, Getxattr, Listxattr, Removexattr, Opendir, Readdir,
    Releasedir, Fsyncdir, Access, Create, Utimens, Fallocate, CopyFileRange, Lseek,
    Count
};

const char* OpName(Op op);

// Called first by every request: counts it, waits the delay (or the delay of
// a server that went away) and returns the error to answer with, 0 to go on.
// path may be null (requests on an open file).
int Enter(Op op, const char* path);

// Sets the delay added to each request (microseconds).
void SetDelay(int64_t microseconds);

// Serves the control socket on a thread of its own.  onCut runs for "cut"
// (the power cut) and returns an empty text or why it could not be done; the
// process ends right after the answer is sent.
bool StartControl(const std::string& socketPath, std::string (*onCut)());

// What the power cut forgets, and how durability is tracked.  The rules
// (stricter than most local file systems, as a server may be):
//   - a file's content, size, mode, owner, times and extended attributes are
//     durable once the file was fsync'ed (or fdatasync'ed) after the change;
//   - a folder's entries (names created, removed, renamed in or out, links)
//     are durable once the folder itself was fsync'ed after the change;
//   - a name that is durable but whose file never was comes back as an empty
//     file; a durable folder entry whose folder never was, as an empty folder;
//   - nothing else is: close, flush and rename do not make anything durable.
// After the cut the backing folder holds exactly the durable state and the
// server stops answering (every request fails with EIO until it is mounted
// again).
namespace durable {

// Takes the whole backing tree as durable; state is a folder on the same file
// system as the backing folder for the server's own records.
bool Start(int backingFd, const std::string& backingPath, const std::string& statePath);
bool Enabled();

// After a successful fsync of an open file or folder.
void FileSynced(int fd);
void FolderSynced(int fd);

// Before an entry goes away (unlink, rmdir, rename over it): keeps its file
// number from being reused while the server runs.
void KeepNumber(int dirFd, const char* name);

// Serialises the requests that change the backing folder with the cut.
void BeginChange();
void EndChange();

// Makes the backing folder the durable state; empty text on success.
std::string Cut();

}  // namespace durable

}  // namespace testfs
