// The test file system's requests: each one is counted and delayed (and
// perhaps failed) by Enter, then done on the backing folder relative to its
// descriptor.  File numbers pass through (use_ino), so identities seen
// through the mount are stable and match the listings.
//
//   tessarbolink_testfs --backing DIR --control SOCKET [--state DIR]
//                       [--delay-us N] [--cache-seconds S] MOUNTPOINT
//
// --state turns on the power cut (a folder on the backing folder's file
// system for the server's records).  The server runs in the foreground and
// ends when the file system is unmounted.
#define FUSE_USE_VERSION 31
#include <dirent.h>
#include <fcntl.h>
#include <fuse.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "test_fs.h"

namespace {

using testfs::Op;

int g_root = -1;          // the backing folder
std::string g_rootPath;   // its path, for the calls that have no *at form
double g_cacheSeconds = 1.0;

// The backing name of a mount path: relative to g_root.
const char* Rel(const char* path) { return path[1] == '\0' ? "." : path + 1; }

std::string Full(const char* path) { return g_rootPath + path; }

int Fail() { return -errno; }

// After a successful create, mknod, mkdir, symlink, link or change of
// attributes, the FUSE library asks getattr for the attributes of its reply,
// on the same thread, before anything else.  That is part of the one request
// the kernel sent, which a file server answers in one round trip: it is not
// counted, delayed or failed again.
thread_local bool t_replyAttributes = false;

int WithReplyAttributes(int result) {
    t_replyAttributes = result == 0;
    return result;
}

// Counts, delays and perhaps fails the request.
#define ENTER(op, path)                                          \
    do {                                                         \
        t_replyAttributes = false;                               \
        if (const int fault = testfs::Enter(op, path)) return -fault; \
    } while (0)

// An open file or folder: the backing descriptor, and the path it was opened
// by, so that failures chosen by path also reach reads, writes and syncs.
struct OpenFile {
    int fd;
    std::string path;
};

uint64_t NewHandle(int fd, const char* path) { return reinterpret_cast<uint64_t>(new OpenFile{fd, path}); }
OpenFile& Handle(const fuse_file_info* fi) { return *reinterpret_cast<OpenFile*>(fi->fh); }
int FdOf(const fuse_file_info* fi) { return Handle(fi).fd; }
// The path of a request on an open file.
const char* PathOf(const char* path, const fuse_file_info* fi) { return path ? path : Handle(fi).path.c_str(); }

void CloseHandle(fuse_file_info* fi) {
    OpenFile* file = &Handle(fi);
    close(file->fd);
    delete file;
}

// Holds the change against a power cut for the scope.
struct Change {
    Change() { testfs::durable::BeginChange(); }
    ~Change() { testfs::durable::EndChange(); }
};

// The folder descriptor and name of a path's last part.
struct Parent {
    int fd = -1;
    std::string name;
    explicit Parent(const char* path) {
        const char* slash = std::strrchr(path, '/');
        name = slash + 1;
        const std::string folder(path, slash);
        fd = folder.empty() ? dup(g_root) : openat(g_root, folder.c_str() + 1, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    }
    ~Parent() {
        if (fd >= 0) close(fd);
    }
};

void KeepNumber(const char* path) {
    if (!testfs::durable::Enabled()) return;
    Parent parent(path);
    if (parent.fd >= 0) testfs::durable::KeepNumber(parent.fd, parent.name.c_str());
}

void* Init(fuse_conn_info*, fuse_config* config) {
    config->use_ino = 1;
    config->hard_remove = 1;
    config->nullpath_ok = 1;
    config->entry_timeout = g_cacheSeconds;
    config->attr_timeout = g_cacheSeconds;
    config->negative_timeout = 0;
    return nullptr;
}

int Getattr(const char* path, struct stat* st, fuse_file_info* fi) {
    if (!std::exchange(t_replyAttributes, false)) ENTER(Op::Getattr, fi ? PathOf(path, fi) : path);
    const int result = fi ? fstat(FdOf(fi), st)
                          : fstatat(g_root, Rel(path), st, AT_SYMLINK_NOFOLLOW);
    return result == 0 ? 0 : Fail();
}

int Readlink(const char* path, char* buffer, size_t size) {
    ENTER(Op::Readlink, path);
    const ssize_t length = readlinkat(g_root, Rel(path), buffer, size - 1);
    if (length < 0) return Fail();
    buffer[length] = '\0';
    return 0;
}

int Mknod(const char* path, mode_t mode, dev_t device) {
    ENTER(Op::Mknod, path);
    Change change;
    return WithReplyAttributes(mknodat(g_root, Rel(path), mode, device) == 0 ? 0 : Fail());
}

int Mkdir(const char* path, mode_t mode) {
    ENTER(Op::Mkdir, path);
    Change change;
    return WithReplyAttributes(mkdirat(g_root, Rel(path), mode) == 0 ? 0 : Fail());
}

int Unlink(const char* path) {
    ENTER(Op::Unlink, path);
    Change change;
    KeepNumber(path);
    return unlinkat(g_root, Rel(path), 0) == 0 ? 0 : Fail();
}

int Rmdir(const char* path) {
    ENTER(Op::Rmdir, path);
    Change change;
    KeepNumber(path);
    return unlinkat(g_root, Rel(path), AT_REMOVEDIR) == 0 ? 0 : Fail();
}

int Symlink(const char* target, const char* path) {
    ENTER(Op::Symlink, path);
    Change change;
    return WithReplyAttributes(symlinkat(target, g_root, Rel(path)) == 0 ? 0 : Fail());
}

int Rename(const char* from, const char* to, unsigned int flags) {
    ENTER(Op::Rename, from);
    Change change;
    if (!(flags & RENAME_NOREPLACE)) KeepNumber(to);
    return renameat2(g_root, Rel(from), g_root, Rel(to), flags) == 0 ? 0 : Fail();
}

int Link(const char* from, const char* to) {
    ENTER(Op::Link, to);
    Change change;
    return WithReplyAttributes(linkat(g_root, Rel(from), g_root, Rel(to), 0) == 0 ? 0 : Fail());
}

int Chmod(const char* path, mode_t mode, fuse_file_info* fi) {
    ENTER(Op::Chmod, fi ? PathOf(path, fi) : path);
    Change change;
    const int result = fi ? fchmod(FdOf(fi), mode) : fchmodat(g_root, Rel(path), mode, 0);
    return WithReplyAttributes(result == 0 ? 0 : Fail());
}

int Chown(const char* path, uid_t uid, gid_t gid, fuse_file_info* fi) {
    ENTER(Op::Chown, fi ? PathOf(path, fi) : path);
    Change change;
    const int result = fi ? fchown(FdOf(fi), uid, gid)
                          : fchownat(g_root, Rel(path), uid, gid, AT_SYMLINK_NOFOLLOW);
    return WithReplyAttributes(result == 0 ? 0 : Fail());
}

int Truncate(const char* path, off_t size, fuse_file_info* fi) {
    ENTER(Op::Truncate, fi ? PathOf(path, fi) : path);
    Change change;
    if (fi) return WithReplyAttributes(ftruncate(FdOf(fi), size) == 0 ? 0 : Fail());
    const int fd = openat(g_root, Rel(path), O_WRONLY | O_CLOEXEC);
    if (fd < 0) return WithReplyAttributes(Fail());
    const int result = ftruncate(fd, size) == 0 ? 0 : Fail();
    close(fd);
    return WithReplyAttributes(result);
}

int Open(const char* path, fuse_file_info* fi) {
    ENTER(Op::Open, path);
    Change change;
    const int fd = openat(g_root, Rel(path), (fi->flags & ~O_NOFOLLOW) | O_CLOEXEC);
    if (fd < 0) return Fail();
    fi->fh = NewHandle(fd, path);
    return 0;
}

int Create(const char* path, mode_t mode, fuse_file_info* fi) {
    ENTER(Op::Create, path);
    Change change;
    const int fd = openat(g_root, Rel(path), fi->flags | O_CREAT | O_CLOEXEC, mode);
    if (fd < 0) return WithReplyAttributes(Fail());
    fi->fh = NewHandle(fd, path);
    return WithReplyAttributes(0);
}

int Read(const char* path, char* buffer, size_t size, off_t offset, fuse_file_info* fi) {
    ENTER(Op::Read, fi ? PathOf(path, fi) : path);
    const ssize_t got = pread(FdOf(fi), buffer, size, offset);
    return got < 0 ? Fail() : static_cast<int>(got);
}

int Write(const char* path, const char* buffer, size_t size, off_t offset, fuse_file_info* fi) {
    ENTER(Op::Write, fi ? PathOf(path, fi) : path);
    Change change;
    const ssize_t put = pwrite(FdOf(fi), buffer, size, offset);
    return put < 0 ? Fail() : static_cast<int>(put);
}

int Statfs(const char* path, struct statvfs* st) {
    ENTER(Op::Statfs, path);
    return fstatvfs(g_root, st) == 0 ? 0 : Fail();
}

int Flush(const char* path, fuse_file_info* fi) {
    ENTER(Op::Flush, fi ? PathOf(path, fi) : path);
    return 0;
}

int Release(const char*, fuse_file_info* fi) {
    // Counted, but never failed or delayed: the kernel does not wait for it.
    testfs::Enter(Op::Release, nullptr);
    CloseHandle(fi);
    return 0;
}

int Fsync(const char* path, int dataOnly, fuse_file_info* fi) {
    ENTER(Op::Fsync, fi ? PathOf(path, fi) : path);
    const int fd = FdOf(fi);
    if ((dataOnly ? fdatasync(fd) : fsync(fd)) != 0) return Fail();
    testfs::durable::FileSynced(fd);
    return 0;
}

int Setxattr(const char* path, const char* name, const char* value, size_t size, int flags) {
    ENTER(Op::Setxattr, path);
    Change change;
    return lsetxattr(Full(path).c_str(), name, value, size, flags) == 0 ? 0 : Fail();
}

int Getxattr(const char* path, const char* name, char* value, size_t size) {
    ENTER(Op::Getxattr, path);
    const ssize_t length = lgetxattr(Full(path).c_str(), name, value, size);
    return length < 0 ? Fail() : static_cast<int>(length);
}

int Listxattr(const char* path, char* list, size_t size) {
    ENTER(Op::Listxattr, path);
    const ssize_t length = llistxattr(Full(path).c_str(), list, size);
    return length < 0 ? Fail() : static_cast<int>(length);
}

int Removexattr(const char* path, const char* name) {
    ENTER(Op::Removexattr, path);
    Change change;
    return lremovexattr(Full(path).c_str(), name) == 0 ? 0 : Fail();
}

int Opendir(const char* path, fuse_file_info* fi) {
    ENTER(Op::Opendir, path);
    const int fd = openat(g_root, Rel(path), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return Fail();
    fi->fh = NewHandle(fd, path);
    return 0;
}

// The whole listing in one answer, each entry with its file number and kind.
int Readdir(const char* path, void* buffer, fuse_fill_dir_t fill, off_t, fuse_file_info* fi,
            fuse_readdir_flags) {
    ENTER(Op::Readdir, fi ? PathOf(path, fi) : path);
    const int fd = openat(FdOf(fi), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* dir = fd >= 0 ? fdopendir(fd) : nullptr;
    if (!dir) {
        const int result = Fail();
        if (fd >= 0) close(fd);
        return result;
    }
    errno = 0;
    while (const dirent* entry = readdir(dir)) {
        struct stat st {};
        st.st_ino = entry->d_ino;
        st.st_mode = static_cast<mode_t>(DTTOIF(entry->d_type));
        if (fill(buffer, entry->d_name, &st, 0, static_cast<fuse_fill_dir_flags>(0)) != 0) break;
        errno = 0;
    }
    const int result = errno != 0 ? Fail() : 0;
    closedir(dir);
    return result;
}

int Releasedir(const char*, fuse_file_info* fi) {
    testfs::Enter(Op::Releasedir, nullptr);
    CloseHandle(fi);
    return 0;
}

int Fsyncdir(const char* path, int dataOnly, fuse_file_info* fi) {
    ENTER(Op::Fsyncdir, fi ? PathOf(path, fi) : path);
    const int fd = FdOf(fi);
    if ((dataOnly ? fdatasync(fd) : fsync(fd)) != 0) return Fail();
    testfs::durable::FolderSynced(fd);
    return 0;
}

int Access(const char* path, int mask) {
    ENTER(Op::Access, path);
    return faccessat(g_root, Rel(path), mask, AT_SYMLINK_NOFOLLOW) == 0 ? 0 : Fail();
}

int Utimens(const char* path, const struct timespec times[2], fuse_file_info* fi) {
    ENTER(Op::Utimens, fi ? PathOf(path, fi) : path);
    Change change;
    const int result = fi ? futimens(FdOf(fi), times)
                          : utimensat(g_root, Rel(path), times, AT_SYMLINK_NOFOLLOW);
    return WithReplyAttributes(result == 0 ? 0 : Fail());
}

int Fallocate(const char* path, int mode, off_t offset, off_t length, fuse_file_info* fi) {
    ENTER(Op::Fallocate, fi ? PathOf(path, fi) : path);
    Change change;
    return fallocate(FdOf(fi), mode, offset, length) == 0 ? 0 : Fail();
}

ssize_t CopyFileRange(const char* path, fuse_file_info* in, off_t inOffset, const char*, fuse_file_info* out,
                      off_t outOffset, size_t size, int flags) {
    ENTER(Op::CopyFileRange, PathOf(path, in));
    Change change;
    loff_t from = inOffset, to = outOffset;
    const ssize_t copied =
        copy_file_range(FdOf(in), &from, FdOf(out), &to, size,
                        static_cast<unsigned>(flags));
    return copied < 0 ? Fail() : copied;
}

off_t Lseek(const char* path, off_t offset, int whence, fuse_file_info* fi) {
    ENTER(Op::Lseek, fi ? PathOf(path, fi) : path);
    const off_t at = lseek(FdOf(fi), offset, whence);
    return at < 0 ? Fail() : at;
}

fuse_operations Operations() {
    fuse_operations ops{};
    ops.init = Init;
    ops.getattr = Getattr;
    ops.readlink = Readlink;
    ops.mknod = Mknod;
    ops.mkdir = Mkdir;
    ops.unlink = Unlink;
    ops.rmdir = Rmdir;
    ops.symlink = Symlink;
    ops.rename = Rename;
    ops.link = Link;
    ops.chmod = Chmod;
    ops.chown = Chown;
    ops.truncate = Truncate;
    ops.open = Open;
    ops.create = Create;
    ops.read = Read;
    ops.write = Write;
    ops.statfs = Statfs;
    ops.flush = Flush;
    ops.release = Release;
    ops.fsync = Fsync;
    ops.setxattr = Setxattr;
    ops.getxattr = Getxattr;
    ops.listxattr = Listxattr;
    ops.removexattr = Removexattr;
    ops.opendir = Opendir;
    ops.readdir = Readdir;
    ops.releasedir = Releasedir;
    ops.fsyncdir = Fsyncdir;
    ops.access = Access;
    ops.utimens = Utimens;
    ops.fallocate = Fallocate;
    ops.copy_file_range = CopyFileRange;
    ops.lseek = Lseek;
    return ops;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: tessarbolink_testfs --backing DIR --control SOCKET [--state DIR] [--delay-us N]\n"
                 "                           [--cache-seconds S] MOUNTPOINT\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::string backing, control, state, mountpoint;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--backing" && hasValue) backing = argv[++i];
        else if (arg == "--control" && hasValue) control = argv[++i];
        else if (arg == "--state" && hasValue) state = argv[++i];
        else if (arg == "--delay-us" && hasValue) testfs::SetDelay(std::atoll(argv[++i]));
        else if (arg == "--cache-seconds" && hasValue) g_cacheSeconds = std::atof(argv[++i]);
        else if (mountpoint.empty() && arg[0] != '-') mountpoint = arg;
        else return Usage();
    }
    if (backing.empty() || control.empty() || mountpoint.empty()) return Usage();

    g_root = open(backing.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (g_root < 0) {
        std::perror(backing.c_str());
        return 1;
    }
    g_rootPath = backing;
    while (g_rootPath.size() > 1 && g_rootPath.back() == '/') g_rootPath.pop_back();
    if (!state.empty() && !testfs::durable::Start(g_root, g_rootPath, state)) {
        std::fprintf(stderr, "tessarbolink_testfs: cannot record the durable state in %s\n", state.c_str());
        return 1;
    }
    if (!testfs::StartControl(control, [] { return testfs::durable::Cut(); })) {
        std::fprintf(stderr, "tessarbolink_testfs: cannot serve %s\n", control.c_str());
        return 1;
    }
    // Files are created with exactly the mode asked for.
    umask(0);

    // Only the user who mounted it (root) reaches the mount, and the server
    // decides what each request may do, as the desktop's SMB and SFTP mounts
    // leave it to their servers: no permission checks in the kernel, which
    // would read a folder's attributes again after every change to it.
    std::vector<std::string> args = {argv[0], mountpoint, "-f", "-o", "fsname=tessarbolink-testfs,subtype=testfs"};
    std::vector<char*> fuseArgv;
    for (std::string& arg : args) fuseArgv.push_back(arg.data());
    const fuse_operations ops = Operations();
    return fuse_main(static_cast<int>(fuseArgv.size()), fuseArgv.data(), &ops, nullptr);
}
