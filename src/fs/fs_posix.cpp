// The file layer on Linux.  Paths arrive as code page 932 bytes and are
// converted strictly to UTF-8 before any system call: a path without an exact
// UTF-8 form fails the operation, so no other file is ever touched in its
// place.  Copies, moves to another file system and the safe whole-file write
// fill a new file beside the destination, which takes its place in one rename
// only when complete, so a failure never leaves a file half-written.
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <memory>
#include <random>
#include <string>

#include "fs/fs.h"
#include "fs/fs_marks_posix.h"
#include "fs/fs_posix_internal.h"
#include "fs/fs_testing.h"
#include "fs/local_time.h"
#include "text/encoding.h"

#ifndef RENAME_NOREPLACE
#define RENAME_NOREPLACE (1 << 0)
#endif

const char kPathSeparator = '/';

namespace {

// ---------------------------------------------------------------------------
// Paths

// The UTF-8 form of a path, or false when it has none.  A NUL byte would cut
// the path short in a system call, so it makes the path unusable too.
bool ToNative(const ByteString& path, std::string& native) {
    if (path.empty() || path.find('\0') != ByteString::npos) return false;
    return Cp932ToUtf8(path, native);
}

// The folder part of a native path ("." for a bare name).
std::string FolderOf(const std::string& native) {
    const size_t slash = native.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return native.substr(0, slash);
}

std::string JoinNative(const std::string& folder, const std::string& name) {
    if (!folder.empty() && folder.back() == '/') return folder + name;
    return folder + '/' + name;
}

// The path a link finally leads to; the path itself when it is no link;
// empty for a dangling link or a loop.
std::string ResolvedTarget(const std::string& native) {
    struct stat st;
    if (lstat(native.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return native;
    char* real = realpath(native.c_str(), nullptr);
    if (!real) return std::string();
    std::string target(real);
    free(real);
    return target;
}

// A file reached by name inside an open folder, or (dir AT_FDCWD) by a path.
struct Place {
    int dir;
    std::string name;
};

Place PathPlace(std::string path) { return Place{AT_FDCWD, std::move(path)}; }

bool StatOf(const Place& place, struct stat& st, bool followLink) {
    return fstatat(place.dir, place.name.c_str(), &st, followLink ? 0 : AT_SYMLINK_NOFOLLOW) == 0;
}

bool SameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

bool SameTime(const struct timespec& a, const struct timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

FileStamp StampOfStatus(const struct stat& st) {
    return FileStamp{FileId{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)},
                     static_cast<int64_t>(st.st_size),
                     static_cast<int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec};
}

bool HasNoWriteBit(const struct stat& st) { return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0; }

// ---------------------------------------------------------------------------
// Errors and writing

FileErrorCause CauseOf(int error) {
    switch (error) {
    case ENOENT: return FileErrorCause::FileNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR: return FileErrorCause::AccessDenied;
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return FileErrorCause::DiskFull;
    case EMFILE:
    case ENFILE: return FileErrorCause::TooManyOpenFiles;
    case EIO: return FileErrorCause::HardIO;
    case EBADF: return FileErrorCause::InvalidFile;
    case ESPIPE: return FileErrorCause::BadSeek;
    case ETXTBSY: return FileErrorCause::SharingViolation;
    case EDEADLK:
    case ENOLCK: return FileErrorCause::LockViolation;
    case ENAMETOOLONG:
    case ENOTDIR:
    case ELOOP: return FileErrorCause::BadPath;
    default: return FileErrorCause::Generic;
    }
}

// Bytes that writes may still store before they come up short; negative when
// the test seam is off.
std::atomic<int64_t> g_shortWriteBudget{-1};

// write(2), cut short by the test seam once its budget is spent.
ssize_t WriteOnce(int fd, const char* data, size_t size) {
    const int64_t budget = g_shortWriteBudget.load();
    if (budget >= 0 && static_cast<uint64_t>(budget) < size) size = static_cast<size_t>(budget);
    if (size == 0) return 0;
    const ssize_t written = write(fd, data, size);
    if (budget >= 0 && written > 0) g_shortWriteBudget.fetch_sub(written);
    return written;
}

bool ShortWriteSeamActive() { return g_shortWriteBudget.load() >= 0; }

// One write of an open file; any failure throws.  A write that stores fewer
// bytes than asked means the disk is full.
void WriteOrThrow(int fd, const char* data, size_t size, const ByteString& path) {
    if (size == 0) return;
    ssize_t written;
    do {
        written = WriteOnce(fd, data, size);
    } while (written < 0 && errno == EINTR);
    if (written < 0) throw FileError(CauseOf(errno), FileStep::Write, path);
    if (static_cast<size_t>(written) < size) throw FileError(FileErrorCause::DiskFull, FileStep::Write, path);
}

// The text in full 1024-byte blocks, then the rest.
void WriteInBlocks(int fd, const ByteString& text, const ByteString& path) {
    constexpr size_t kBlock = 1024;
    for (size_t at = 0; at < text.size(); at += kBlock)
        WriteOrThrow(fd, text.data() + at, std::min(kBlock, text.size() - at), path);
}

// An open file descriptor, closed when it goes out of scope.  Close() reports
// the result where a failed close matters.
class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    Fd(Fd&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    Fd& operator=(Fd&& other) noexcept {
        if (this != &other) {
            if (fd_ >= 0) close(fd_);
            fd_ = other.fd_;
            other.fd_ = -1;
        }
        return *this;
    }

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int Close() {
        const int result = close(fd_);
        fd_ = -1;
        return result;
    }

private:
    int fd_;
};

// Closes a file whose failure to close must be reported.
void CloseOrThrow(Fd& fd, const ByteString& path) {
    if (fd.Close() != 0) throw FileError(CauseOf(errno), FileStep::Close, path);
}

// Writes one byte per call and hands the system large blocks.
class BufferedWriter {
public:
    BufferedWriter(int fd, const ByteString& path) : fd_(fd), path_(path) { buffer_.reserve(kCapacity); }

    void Put(char byte) {
        buffer_.push_back(byte);
        if (buffer_.size() == kCapacity) Flush();
    }

    void Flush() {
        WriteOrThrow(fd_, buffer_.data(), buffer_.size(), path_);
        buffer_.clear();
    }

private:
    static constexpr size_t kCapacity = 64 * 1024;
    int fd_;
    const ByteString& path_;
    std::string buffer_;
};

void ClearNonBlocking(int fd) {
    const int flags = fcntl(fd, F_GETFL);
    if (flags >= 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
}

// Opens with O_NONBLOCK so that a FIFO never blocks the program, then refuses
// anything that is not a regular file or a device.
Fd OpenFileLike(const std::string& native, int flags, mode_t mode, struct stat& st) {
    Fd fd(open(native.c_str(), flags | O_NONBLOCK | O_CLOEXEC, mode));
    if (!fd.valid()) return fd;
    if (fstat(fd.get(), &st) != 0 || S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode) || S_ISDIR(st.st_mode))
        return Fd();
    ClearNonBlocking(fd.get());
    return fd;
}

// ---------------------------------------------------------------------------
// Temporary files and copies

std::string RandomSuffix() {
    thread_local std::mt19937_64 generator{std::random_device{}()};
    char text[20];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(generator()));
    return text;
}

// A new file with a fresh hidden name in the folder, created exclusively.
Fd CreateTempIn(const std::string& folder, mode_t mode, std::string& tempPath) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        tempPath = JoinNative(folder, ".tessarbolink-" + RandomSuffix() + ".tmp");
        Fd fd(open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
        if (fd.valid()) return fd;
        if (errno != EEXIST) break;
    }
    tempPath.clear();
    return Fd();
}

// Removes a temporary file on every path out of scope unless kept.
class TempFileGuard {
public:
    explicit TempFileGuard(std::string path) : path_(std::move(path)) {}
    ~TempFileGuard() {
        if (!path_.empty()) unlink(path_.c_str());
    }
    TempFileGuard(const TempFileGuard&) = delete;
    TempFileGuard& operator=(const TempFileGuard&) = delete;
    void Keep() { path_.clear(); }

private:
    std::string path_;
};

constexpr size_t kCopyBufferSize = 256 * 1024;

char* CopyBuffer() {
    thread_local std::unique_ptr<char[]> buffer(new char[kCopyBufferSize]);
    return buffer.get();
}

// Copies the rest of one file into another with read and write.
bool CopyByReadWrite(int in, int out) {
    char* buffer = CopyBuffer();
    for (;;) {
        const ssize_t got = read(in, buffer, kCopyBufferSize);
        if (got == 0) return true;
        if (got < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        for (ssize_t done = 0; done < got;) {
            const ssize_t put = WriteOnce(out, buffer + done, static_cast<size_t>(got - done));
            if (put < 0 && errno == EINTR) continue;
            if (put <= 0) return false;
            done += put;
        }
    }
}

// Copies a whole file of the given size, in the kernel where the file
// systems allow it.
bool CopyContent(int in, int out, off_t size) {
    // A file that reports no size (as some kernel files do) may still have
    // content: only reading finds its end.
    if (size == 0 || ShortWriteSeamActive()) return CopyByReadWrite(in, out);
    if (const int sparse = CopyKeepingHoles(in, out, size); sparse >= 0) return sparse == 1;
    for (off_t done = 0; done < size;) {
        const ssize_t copied = copy_file_range(in, nullptr, out, nullptr, static_cast<size_t>(size - done), 0);
        if (copied > 0) {
            done += copied;
            continue;
        }
        if (copied < 0 && errno == EINTR) continue;
        // Shorter than it said, or refused (old kernel, file systems that
        // cannot copy between each other): read and write whatever is left.
        if (copied < 0 && errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP &&
            errno != EBADF)
            return false;
        return CopyByReadWrite(in, out);
    }
    return true;
}

// Gives the copy the source's permission bits and times.
bool TakeOverAttributes(int out, const struct stat& source, mode_t modeMask) {
    const struct timespec times[2] = {source.st_atim, source.st_mtim};
    return fchmod(out, source.st_mode & modeMask) == 0 && futimens(out, times) == 0;
}

// Off in the tests of the fallback for file systems that refuse
// RENAME_NOREPLACE.
std::atomic<bool> g_renameNoReplace{true};

int RenameNoReplace(const Place& from, const std::string& to) {
    if (!g_renameNoReplace) {
        errno = EINVAL;
        return -1;
    }
    return static_cast<int>(
        syscall(SYS_renameat2, from.dir, from.name.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE));
}

void SyncFolder(const std::string& folder) {
    Fd fd(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.valid()) fsync(fd.get());
}

// Off in the tests that exercise the named temporary file, as on a file
// system without O_TMPFILE.
std::atomic<bool> g_unnamedTempFiles{true};

std::function<void()>& BeforePublishHook() {
    static std::function<void()> hook;
    return hook;
}

void RunBeforePublishHook() {
    if (BeforePublishHook()) BeforePublishHook()();
}

std::function<void()>& BeforeSourceRemovalHook() {
    static std::function<void()> hook;
    return hook;
}

// Opens a regular file (not a link) for reading; its status goes to st.
Fd OpenPlainFileForReading(const Place& place, struct stat& st) {
    struct stat before;
    if (!StatOf(place, before, false) || !S_ISREG(before.st_mode)) return Fd();
    Fd fd(openat(place.dir, place.name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!fd.valid() || fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || !SameFile(st, before)) return Fd();
    return fd;
}

// Whether the place still names the very file that was opened as in, and the
// file is as it was when copying started (size and modification time): a file
// saved over by an editor, or still growing, is not.
bool StillTheCopiedFile(int in, const Place& place, const struct stat& copied) {
    struct stat now, named;
    return fstat(in, &now) == 0 && StatOf(place, named, false) && SameFile(named, copied) &&
           SameFile(now, copied) && now.st_size == copied.st_size && SameTime(now.st_mtim, copied.st_mtim);
}

// Fills a new file in the destination folder with the source's content, marks
// and attributes, flushed to the disk.
bool FillMovedCopy(int in, int out, const struct stat& source) {
    if (!CopyContent(in, out, source.st_size)) return false;
    (void)!fchown(out, source.st_uid, source.st_gid);  // keeps the owner where allowed
    return CopyMarks(in, out) && TakeOverAttributes(out, source, 07777) && fsync(out) == 0;
}

// Publishes an unnamed (O_TMPFILE) file under a name, only while it is free.
bool PublishUnnamed(int fd, const std::string& destination) {
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, destination.c_str(), AT_SYMLINK_FOLLOW) == 0) return true;
    if (errno == EEXIST) return false;
    return linkat(fd, "", AT_FDCWD, destination.c_str(), AT_EMPTY_PATH) == 0;
}

// Publishes a named temporary file under a name, only while it is free.
bool PublishNamed(const std::string& temp, const std::string& destination) {
    if (RenameNoReplace(PathPlace(temp), destination) == 0) return true;
    if (errno == EEXIST || link(temp.c_str(), destination.c_str()) != 0) return false;
    unlink(temp.c_str());
    return true;
}

// Copies the source into the destination folder and publishes the copy under
// the destination name; the source is not touched.  The identity of the
// published file goes to published.
bool CopyAndPublish(int in, const struct stat& source, const std::string& destination, struct stat& published) {
    const std::string folder = FolderOf(destination);
    Fd unnamed(g_unnamedTempFiles ? open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600) : -1);
    if (unnamed.valid()) {
        if (!FillMovedCopy(in, unnamed.get(), source) || fstat(unnamed.get(), &published) != 0) return false;
        RunBeforePublishHook();
        return PublishUnnamed(unnamed.get(), destination);
    }
    std::string temp;
    Fd named = CreateTempIn(folder, 0600, temp);
    if (!named.valid()) return false;
    TempFileGuard guard(temp);
    if (!FillMovedCopy(in, named.get(), source) || fstat(named.get(), &published) != 0 || named.Close() != 0)
        return false;
    RunBeforePublishHook();
    if (!PublishNamed(temp, destination)) return false;
    guard.Keep();
    return true;
}

// Whether a copy of the source may take the place of what the path names:
// nothing, or a writable regular file other than the source itself.
// Read-only means no write bit at all (root passes access(), so the bits
// decide) or not writable for this user.
bool MayBeReplacedBy(const std::string& target, const struct stat& source) {
    struct stat old;
    if (lstat(target.c_str(), &old) != 0) return errno == ENOENT;
    return S_ISREG(old.st_mode) && !SameFile(old, source) && !HasNoWriteBit(old) &&
           access(target.c_str(), W_OK) == 0;
}

// Fills a new copy: the content, the marks and the permission bits and times.
bool FillCopy(int in, int out, const struct stat& source) {
    return CopyContent(in, out, source.st_size) && CopyMarks(in, out) && TakeOverAttributes(out, source, 0777);
}

// Copies into a new file in the target's folder, which gets a name only when
// it is complete, so that neither a failure nor a kill leaves a half-written
// file under any name.  A copy to a free name is not flushed: its source
// stays, so a crash loses nothing, and copies must run at the speed of a plain
// copy.  A copy that replaces a file is flushed first, since the old file is
// gone once the new one takes its place.
bool CopyInPlaceOf(int in, const struct stat& source, const std::string& target) {
    const std::string folder = FolderOf(target);
    struct stat old;
    const bool replacing = lstat(target.c_str(), &old) == 0;
    Fd unnamed(g_unnamedTempFiles ? open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600) : -1);
    if (unnamed.valid()) {
        if (!FillCopy(in, unnamed.get(), source)) return false;
        if (!replacing && PublishUnnamed(unnamed.get(), target)) return true;
        if (fsync(unnamed.get()) != 0 && errno != EINVAL) return false;
        // A name of its own for the moment of the rename: linkat() cannot
        // replace a file.
        std::string temp;
        for (int attempt = 0; attempt < 100 && temp.empty(); ++attempt) {
            temp = JoinNative(folder, ".tessarbolink-" + RandomSuffix() + ".tmp");
            if (!PublishUnnamed(unnamed.get(), temp)) {
                if (errno != EEXIST) return false;
                temp.clear();
            }
        }
        TempFileGuard guard(temp);
        if (temp.empty() || rename(temp.c_str(), target.c_str()) != 0) return false;
        guard.Keep();
        return true;
    }
    std::string temp;
    Fd out = CreateTempIn(folder, 0600, temp);
    if (!out.valid()) return false;
    TempFileGuard guard(temp);
    if (!FillCopy(in, out.get(), source) || (replacing && fsync(out.get()) != 0 && errno != EINVAL) ||
        out.Close() != 0 || rename(temp.c_str(), target.c_str()) != 0)
        return false;
    guard.Keep();
    return true;
}

// Moves a regular file to another file system.  Links and special files are
// not carried across: a link would have to be re-created pointing elsewhere
// relative to its new folder, and a device or FIFO has no content to copy, so
// such a move fails and the source stays.
//
// The copy and its new name are on the disk before the source goes (the copy
// is flushed before it is published, its folder after), so a power cut never
// loses the file.  The source goes only if it is still the very file that was
// copied, unchanged; otherwise (an editor saved over it, it is still growing)
// the move fails and the copy is taken back.
int MoveAcrossDevicesNative(const Place& source, const std::string& destination) {
    struct stat st;
    Fd in = OpenPlainFileForReading(source, st);
    if (!in.valid()) return 0;
    struct stat published;
    if (!CopyAndPublish(in.get(), st, destination, published)) return 0;
    SyncFolder(FolderOf(destination));
    if (BeforeSourceRemovalHook()) BeforeSourceRemovalHook()();
    if (StillTheCopiedFile(in.get(), source, st) && unlinkat(source.dir, source.name.c_str(), 0) == 0) return 1;
    // The source cannot go: take back the copy (only if it is still ours),
    // so that a failed move leaves things as they were.
    struct stat now;
    if (lstat(destination.c_str(), &now) == 0 && SameFile(now, published)) unlink(destination.c_str());
    return 0;
}

// Where the file system has no hard links (and no RENAME_NOREPLACE): claims
// the name with an exclusive create, then renames over that claim.
int MoveOverOwnClaim(const Place& source, const std::string& destination) {
    Fd claim(open(destination.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (!claim.valid()) return 0;
    claim.Close();
    if (renameat(source.dir, source.name.c_str(), AT_FDCWD, destination.c_str()) == 0) return 1;
    unlink(destination.c_str());
    return 0;
}

// A second name, then the first one dropped: link() never replaces.
int MoveByLink(const Place& source, const std::string& destination) {
    if (linkat(source.dir, source.name.c_str(), AT_FDCWD, destination.c_str(), 0) == 0) {
        if (unlinkat(source.dir, source.name.c_str(), 0) == 0) return 1;
        unlink(destination.c_str());
        return 0;
    }
    switch (errno) {
    case EXDEV: return MoveAcrossDevicesNative(source, destination);
    case EPERM:
    case EOPNOTSUPP: return MoveOverOwnClaim(source, destination);
    default: return 0;
    }
}

int MoveNative(const Place& source, const std::string& destination) {
    struct stat st;
    if (!StatOf(source, st, false) || S_ISDIR(st.st_mode)) return 0;
    if (RenameNoReplace(source, destination) == 0) return 1;
    switch (errno) {
    case EXDEV: return MoveAcrossDevicesNative(source, destination);
    case EINVAL:
    case ENOSYS:
    case EOPNOTSUPP: return MoveByLink(source, destination);
    default: return 0;
    }
}

// ---------------------------------------------------------------------------
// Listing

EntryKind KindOfMode(mode_t mode) {
    if (S_ISREG(mode)) return EntryKind::File;
    if (S_ISDIR(mode)) return EntryKind::Folder;
    return EntryKind::Special;
}

// What a link leads to: a folder, a file, or nothing usable.
EntryKind KindOfLinkTarget(const Place& place) {
    struct stat st;
    if (!StatOf(place, st, true)) return EntryKind::Special;
    if (S_ISDIR(st.st_mode)) return EntryKind::FolderLink;
    if (S_ISREG(st.st_mode)) return EntryKind::File;
    return EntryKind::Special;
}

EntryKind KindOfPlace(const Place& place) {
    struct stat st;
    if (!StatOf(place, st, false)) return EntryKind::Missing;
    if (S_ISLNK(st.st_mode)) return KindOfLinkTarget(place);
    return KindOfMode(st.st_mode);
}

EntryKind KindOfDirent(const Place& place, unsigned char type) {
    switch (type) {
    case DT_REG: return EntryKind::File;
    case DT_DIR: return EntryKind::Folder;
    case DT_LNK: return KindOfLinkTarget(place);
    case DT_UNKNOWN: return KindOfPlace(place);
    default: return EntryKind::Special;
    }
}

bool IsDotOrDotDot(const char* name) {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// Reads an open folder from its start, through a descriptor of its own (the
// folder's own descriptor keeps its position and stays open); the reader
// returns false to stop early.
template <typename Reader>
bool ReadFolder(int folder, Reader&& reader) {
    const int own = openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (own < 0) return false;
    DIR* dir = fdopendir(own);
    if (!dir) {
        close(own);
        return false;
    }
    errno = 0;
    bool complete = true;
    while (const dirent* entry = readdir(dir)) {
        if (!IsDotOrDotDot(entry->d_name) && !reader(*entry)) break;
        errno = 0;
    }
    if (errno != 0) complete = false;  // an I/O error part-way: the listing is not whole
    closedir(dir);
    return complete;
}

bool ListOpenFolder(int folder, std::vector<FolderEntry>& entries) {
    entries.clear();
    // The whole listing first, so that nothing done to the entries afterwards
    // changes what is read.
    struct RawEntry {
        std::string name;
        unsigned char type;
        ino_t index;
    };
    std::vector<RawEntry> raw;
    if (!ReadFolder(folder, [&](const dirent& entry) {
            raw.push_back({entry.d_name, entry.d_type, entry.d_ino});
            return true;
        }))
        return false;

    entries.reserve(raw.size());
    for (RawEntry& entry : raw) {
        FolderEntry listed;
        listed.convertible = Utf8ToCp932(entry.name, listed.name);
        if (!listed.convertible) listed.name = Utf8ToCp932Shown(entry.name);
        listed.index = static_cast<uint64_t>(entry.index);
        listed.kind = KindOfDirent(Place{folder, std::move(entry.name)}, entry.type);
        entries.push_back(std::move(listed));
    }
    return true;
}

int OpenFolderIsEmpty(int folder) {
    bool empty = true;
    if (!ReadFolder(folder, [&](const dirent&) { return empty = false; }) && empty) return -1;
    return empty ? 1 : 0;
}

// Opens a folder for a walk.  EMFILE on a deep tree: the soft limit of open
// descriptors is raised to the hard one, once.
int OpenFolderAt(int dir, const char* name, int extraFlags) {
    const int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | extraFlags;
    int fd = openat(dir, name, flags);
    if (fd < 0 && errno == EMFILE) {
        static std::atomic<bool> raised{false};
        struct rlimit limit;
        if (!raised.exchange(true) && getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
            limit.rlim_cur = limit.rlim_max;
            setrlimit(RLIMIT_NOFILE, &limit);
            fd = openat(dir, name, flags);
        } else {
            errno = EMFILE;
        }
    }
    return fd;
}

// ---------------------------------------------------------------------------
// Copies through a link at the destination

// Whether the system would refuse to follow this link for this user in a
// shared folder: in a sticky, world-writable folder a link is followed only
// for its owner, or when it belongs to the folder's owner.
bool IsProtectedLink(const std::string& link, const struct stat& linkStatus) {
    struct stat folder;
    if (stat(FolderOf(link).c_str(), &folder) != 0) return true;
    const bool shared = (folder.st_mode & S_ISVTX) && (folder.st_mode & S_IWOTH);
    return shared && linkStatus.st_uid != geteuid() && linkStatus.st_uid != folder.st_uid;
}

// The file a copy to this path writes: the path itself, or what its chain of
// links leads to.  Empty for a dangling link, a loop, and a link the system
// would not follow for this user.
std::string CopyTarget(const std::string& native) {
    std::string path = native;
    for (int hop = 0; hop < 40; ++hop) {
        struct stat st;
        if (lstat(path.c_str(), &st) != 0) return hop == 0 ? path : std::string();
        if (!S_ISLNK(st.st_mode)) return path;
        if (IsProtectedLink(path, st)) return std::string();
        std::string target(static_cast<size_t>(st.st_size > 0 ? st.st_size : 255) + 1, '\0');
        const ssize_t length = readlink(path.c_str(), target.data(), target.size());
        if (length <= 0 || static_cast<size_t>(length) >= target.size()) return std::string();
        target.resize(static_cast<size_t>(length));
        path = target.front() == '/' ? target : JoinNative(FolderOf(path), target);
    }
    return std::string();
}

int CopyNative(const Place& source, const std::string& destination) {
    struct stat src;
    if (!StatOf(source, src, true) || !S_ISREG(src.st_mode)) return 0;

    // A link as destination is written through: its target is replaced and
    // the link stays.  A dangling link is refused rather than followed into a
    // folder nobody chose.
    const std::string target = CopyTarget(destination);
    if (target.empty() || !MayBeReplacedBy(target, src)) return 0;

    // The source is opened only now that it is known to be a regular file,
    // and must still be the same one.
    Fd in(openat(source.dir, source.name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat opened;
    if (!in.valid() || fstat(in.get(), &opened) != 0 || !SameFile(opened, src)) return 0;
    return CopyInPlaceOf(in.get(), src, target) ? 1 : 0;
}

int RemoveNative(const Place& place) {
    struct stat st;
    if (!StatOf(place, st, false) || S_ISDIR(st.st_mode)) return 0;
    // A file without any write bit is read-only, and a read-only file is not
    // deleted, as on Windows (also for root, whom unlink() lets through).
    if (S_ISREG(st.st_mode) && HasNoWriteBit(st)) return 0;
    return unlinkat(place.dir, place.name.c_str(), 0) == 0 ? 1 : 0;
}

std::optional<int64_t> SizeNative(const Place& place) {
    struct stat st;
    if (!StatOf(place, st, false)) return std::nullopt;
    if (S_ISLNK(st.st_mode) && !StatOf(place, st, true)) return std::nullopt;
    if (!S_ISREG(st.st_mode)) return std::nullopt;
    return static_cast<int64_t>(st.st_size);
}

// ---------------------------------------------------------------------------
// Dates

bool LocalTimeOf(int64_t secondsSince1970, std::tm& local) {
    const time_t time = static_cast<time_t>(secondsSince1970);
    return localtime_r(&time, &local) != nullptr;
}

}  // namespace

// ---------------------------------------------------------------------------
// Queries

int FileExists(const ByteString& path) {
    std::string native;
    struct stat st;
    return ToNative(path, native) && lstat(native.c_str(), &st) == 0 ? 1 : 0;
}

EntryKind KindOf(const ByteString& path) {
    std::string native;
    if (!ToNative(path, native)) return EntryKind::Missing;
    return KindOfPlace(PathPlace(native));
}

std::optional<int64_t> FileSizeOf(const ByteString& path) {
    std::string native;
    if (!ToNative(path, native)) return std::nullopt;
    return SizeNative(PathPlace(native));
}

std::optional<FileId> FileIdOf(const ByteString& path) {
    std::string native;
    struct stat st;
    if (!ToNative(path, native) || stat(native.c_str(), &st) != 0) return std::nullopt;
    return FileId{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
}

std::optional<FileStamp> FileStampOf(const ByteString& path) {
    std::string native;
    struct stat st;
    if (!ToNative(path, native) || lstat(native.c_str(), &st) != 0) return std::nullopt;
    return StampOfStatus(st);
}

bool ListFolder(const ByteString& folder, std::vector<FolderEntry>& entries) {
    entries.clear();
    const OpenFolder open = OpenFolder::Open(folder);
    return open.IsOpen() && open.List(entries);
}

int FolderIsEmpty(const ByteString& folder) {
    const OpenFolder open = OpenFolder::Open(folder);
    return open.IsOpen() ? open.IsEmpty() : -1;
}

// ---------------------------------------------------------------------------
// Changes to files and folders

int MoveNoOverwrite(const ByteString& source, const ByteString& destination) {
    if (FileExists(destination)) return 0;
    return fs_posix_steps::MoveWithoutPrecheck(source, destination);
}

int CopyOverwrite(const ByteString& source, const ByteString& destination) {
    std::string from, to;
    if (!ToNative(source, from) || !ToNative(destination, to)) return 0;
    return CopyNative(PathPlace(from), to);
}

int RemoveFile(const ByteString& path) {
    std::string native;
    if (!ToNative(path, native)) return 0;
    return RemoveNative(PathPlace(native));
}

int CreateFolder(const ByteString& path) {
    std::string native;
    return ToNative(path, native) && mkdir(native.c_str(), 0777) == 0 ? 1 : 0;
}

int RemoveFolder(const ByteString& path) {
    std::string native;
    return ToNative(path, native) && rmdir(native.c_str()) == 0 ? 1 : 0;
}

// ---------------------------------------------------------------------------
// Whole-file reads and writes

ByteString ReadTextFile(const ByteString& path) {
    std::string native;
    if (!ToNative(path, native)) return ByteString();
    struct stat st;
    Fd fd = OpenFileLike(native, O_RDONLY, 0, st);
    if (!fd.valid() || !S_ISREG(st.st_mode)) return ByteString();  // a device might never end

    ByteString content;
    char block[1024];
    for (;;) {
        const ssize_t got = read(fd.get(), block, sizeof block);
        if (got == 0) break;
        if (got < 0) {
            if (errno == EINTR) continue;
            throw FileError(CauseOf(errno), FileStep::Read, path);
        }
        content.append(block, static_cast<size_t>(got));
    }
    CloseOrThrow(fd, path);
    return content;
}

int WriteTextFile(const ByteString& path, const ByteString& text) {
    std::string native;
    if (!ToNative(path, native)) return 0;

    // The owner's read and write permission is added, so that a file marked
    // read-only is written all the same; nothing else changes.
    struct stat st;
    if (stat(native.c_str(), &st) == 0 && S_ISREG(st.st_mode))
        (void)chmod(native.c_str(), (st.st_mode & 07777) | S_IRUSR | S_IWUSR);

    // Opens the file or creates it, in one step; it is truncated below, once
    // it is known to be a regular file.
    Fd fd = OpenFileLike(native, O_WRONLY | O_CREAT, 0666, st);
    if (!fd.valid()) return 0;

    if (S_ISREG(st.st_mode) && ftruncate(fd.get(), 0) != 0)
        throw FileError(CauseOf(errno), FileStep::Truncate, path);
    WriteInBlocks(fd.get(), text, path);
    CloseOrThrow(fd, path);
    return 1;
}

int WriteTextFileSafely(const ByteString& path, const ByteString& text) {
    std::string native;
    if (!ToNative(path, native)) return 0;

    // A link is written through: its target gets the new content.  A dangling
    // link is left to the plain write, which creates the target.
    const std::string target = ResolvedTarget(native);
    if (target.empty()) return WriteTextFile(path, text);
    struct stat old;
    const bool replacing = stat(target.c_str(), &old) == 0;
    if (replacing && !S_ISREG(old.st_mode)) return WriteTextFile(path, text);

    std::string temp;
    Fd fd = CreateTempIn(FolderOf(target), 0666, temp);
    if (!fd.valid()) return WriteTextFile(path, text);
    TempFileGuard guard(temp);

    if (replacing) {
        // Same owner and permissions as before, plus the owner's read and
        // write permission (a read-only file is written all the same).
        (void)!fchown(fd.get(), old.st_uid, old.st_gid);
        (void)fchmod(fd.get(), (old.st_mode & 07777) | S_IRUSR | S_IWUSR);
    }
    WriteInBlocks(fd.get(), text, path);
    // EINVAL: a file system that has nothing to flush.
    if (fsync(fd.get()) != 0 && errno != EINVAL) throw FileError(CauseOf(errno), FileStep::Write, path);
    CloseOrThrow(fd, path);
    if (rename(temp.c_str(), target.c_str()) != 0) {
        // The old file cannot be replaced (a file mounted on its own, another
        // user's file in a shared folder): write it in place instead.
        return WriteTextFile(path, text);
    }
    guard.Keep();
    SyncFolder(FolderOf(target));
    return 1;
}

int AppendTextToFile(const ByteString& path, const ByteString& text) {
    std::string native;
    if (!ToNative(path, native)) return 0;

    // A file without any write bit is read-only for this program, also for
    // root, whom open() would let through.
    struct stat st;
    if (stat(native.c_str(), &st) == 0 && S_ISREG(st.st_mode) && HasNoWriteBit(st)) return 0;

    Fd fd = OpenFileLike(native, O_WRONLY | O_APPEND | O_CREAT, 0666, st);
    if (!fd.valid()) return 0;

    BufferedWriter writer(fd.get(), path);
    for (const char byte : text) writer.Put(byte);
    writer.Flush();
    CloseOrThrow(fd, path);
    return 1;
}

// ---------------------------------------------------------------------------
// Files added to record by record

struct AppendFile::State {
    Fd fd;
};

AppendFile::AppendFile() = default;
AppendFile::AppendFile(std::unique_ptr<State> state) : state_(std::move(state)) {}
AppendFile::~AppendFile() = default;
AppendFile::AppendFile(AppendFile&& other) noexcept = default;
AppendFile& AppendFile::operator=(AppendFile&& other) noexcept = default;

AppendFile AppendFile::Replace(const ByteString& path) {
    std::string native;
    if (!ToNative(path, native)) return AppendFile();
    struct stat st;
    Fd fd = OpenFileLike(native, O_WRONLY | O_CREAT | O_APPEND, 0666, st);
    if (!fd.valid() || !S_ISREG(st.st_mode) || ftruncate(fd.get(), 0) != 0) return AppendFile();
    auto state = std::make_unique<State>();
    state->fd = std::move(fd);
    return AppendFile(std::move(state));
}

bool AppendFile::IsOpen() const { return state_ && state_->fd.valid(); }

bool AppendFile::Append(const ByteString& bytes) {
    if (!IsOpen()) return false;
    for (size_t done = 0; done < bytes.size();) {
        const ssize_t put = WriteOnce(state_->fd.get(), bytes.data() + done, bytes.size() - done);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        done += static_cast<size_t>(put);
    }
    return true;
}

// ---------------------------------------------------------------------------
// Open folders

struct OpenFolder::State {
    Fd fd;
    FileId id;
    int error = 0;  // why the open failed
};

OpenFolder::OpenFolder() = default;
OpenFolder::OpenFolder(std::unique_ptr<State> state) : state_(std::move(state)) {}
OpenFolder::~OpenFolder() = default;
OpenFolder::OpenFolder(OpenFolder&& other) noexcept = default;
OpenFolder& OpenFolder::operator=(OpenFolder&& other) noexcept = default;

namespace {

// Takes over an open folder's descriptor; a failed open keeps its errno.
std::unique_ptr<OpenFolder::State> FolderState(int fd) {
    auto state = std::make_unique<OpenFolder::State>();
    if (fd < 0) {
        state->error = errno;
        return state;
    }
    state->fd = Fd(fd);
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISDIR(st.st_mode)) {
        state->error = ENOTDIR;
        state->fd = Fd();
        return state;
    }
    state->id = FileId{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
    return state;
}

}  // namespace

OpenFolder OpenFolder::Open(const ByteString& path) {
    std::string native;
    if (!ToNative(path, native)) {
        errno = EINVAL;
        return OpenFolder(FolderState(-1));
    }
    return OpenFolder(FolderState(OpenFolderAt(AT_FDCWD, native.c_str(), 0)));
}

OpenFolder OpenFolder::OpenChild(const FolderEntry& entry) const {
    std::string name;
    if (!IsOpen() || !entry.convertible || !ToNative(entry.name, name) || name.find('/') != std::string::npos) {
        errno = EINVAL;
        return OpenFolder(FolderState(-1));
    }
    auto child = FolderState(OpenFolderAt(state_->fd.get(), name.c_str(), O_NOFOLLOW));
    // Still the folder that was listed?  A folder mounted there has another
    // device, and the listing names the folder beneath it: only the same
    // device can be compared.
    if (child->fd.valid() && entry.index != 0 && child->id.volume == state_->id.volume &&
        child->id.index != entry.index) {
        child->fd = Fd();
        child->error = ESTALE;
    }
    return OpenFolder(std::move(child));
}

bool OpenFolder::IsOpen() const { return state_ && state_->fd.valid(); }

bool OpenFolder::Vanished() const { return state_ && !state_->fd.valid() && state_->error == ENOENT; }

FileId OpenFolder::Id() const { return state_ ? state_->id : FileId{}; }

bool OpenFolder::List(std::vector<FolderEntry>& entries) const {
    entries.clear();
    return IsOpen() && ListOpenFolder(state_->fd.get(), entries);
}

int OpenFolder::IsEmpty() const { return IsOpen() ? OpenFolderIsEmpty(state_->fd.get()) : -1; }

namespace {

// The place of a file name in an open folder; false for a name that is no
// single name of this folder.
bool PlaceIn(const OpenFolder::State* folder, const ByteString& name, Place& place) {
    if (!folder || !folder->fd.valid() || !ToNative(name, place.name) || place.name.find('/') != std::string::npos)
        return false;
    place.dir = folder->fd.get();
    return true;
}

}  // namespace

std::optional<int64_t> OpenFolder::FileSizeOf(const ByteString& name) const {
    Place place;
    if (!PlaceIn(state_.get(), name, place)) return std::nullopt;
    return SizeNative(place);
}

int OpenFolder::MoveNoOverwrite(const ByteString& name, const ByteString& destination) const {
    Place place;
    std::string to;
    if (!PlaceIn(state_.get(), name, place) || !ToNative(destination, to) || FileExists(destination)) return 0;
    return MoveNative(place, to);
}

int OpenFolder::CopyOverwrite(const ByteString& name, const ByteString& destination) const {
    Place place;
    std::string to;
    if (!PlaceIn(state_.get(), name, place) || !ToNative(destination, to)) return 0;
    return CopyNative(place, to);
}

int OpenFolder::RemoveFile(const ByteString& name) const {
    Place place;
    return PlaceIn(state_.get(), name, place) ? RemoveNative(place) : 0;
}

int OpenFolder::RemoveFolder(const ByteString& name, const FileId& id) const {
    Place place;
    struct stat st;
    if (!PlaceIn(state_.get(), name, place) || !StatOf(place, st, false) || !S_ISDIR(st.st_mode) ||
        FileId{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)} != id)
        return 0;
    return unlinkat(place.dir, place.name.c_str(), AT_REMOVEDIR) == 0 ? 1 : 0;
}

std::optional<FileStamp> OpenFolder::StampOf(const ByteString& name) const {
    Place place;
    struct stat st;
    if (!PlaceIn(state_.get(), name, place) || !StatOf(place, st, false)) return std::nullopt;
    return StampOfStatus(st);
}

int OpenFolder::CreateFolder(const ByteString& name) const {
    Place place;
    return PlaceIn(state_.get(), name, place) && mkdirat(place.dir, place.name.c_str(), 0777) == 0 ? 1 : 0;
}

int OpenFolder::MoveNoOverwrite(const ByteString& name, const OpenFolder& to, const ByteString& toName) const {
    Place from, target;
    struct stat st;
    if (!PlaceIn(state_.get(), name, from) || !PlaceIn(to.state_.get(), toName, target) ||
        StatOf(target, st, false) || errno != ENOENT)
        return 0;
    // The other folder by its descriptor: whatever became of its path, the
    // file lands in that very folder.
    return MoveNative(from, "/proc/self/fd/" + std::to_string(target.dir) + "/" + target.name);
}

// ---------------------------------------------------------------------------
// The program and the clock

ByteString ExecutablePath() {
    std::string buffer(256, '\0');
    for (;;) {
        const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (length < 0) return ByteString();
        if (static_cast<size_t>(length) < buffer.size()) {
            buffer.resize(static_cast<size_t>(length));
            break;
        }
        buffer.resize(buffer.size() * 2);
    }
    ByteString path;
    return Utf8ToCp932(buffer, path) ? path : ByteString();
}

int64_t CurrentTimeSeconds() { return static_cast<int64_t>(time(nullptr)); }

LocalDateTime ToLocalDateTime(int64_t secondsSince1970) {
    // localtime_r fails only where the year no longer fits its int.
    return LocalDateTimeThrough(LocalTimeOf, secondsSince1970);
}

void SetShortWriteAfterForTesting(int64_t bytes) { g_shortWriteBudget.store(bytes < 0 ? -1 : bytes); }

void SetBeforeSourceRemovalHookForTesting(std::function<void()> hook) { BeforeSourceRemovalHook() = std::move(hook); }

// ---------------------------------------------------------------------------
// Steps the tests drive directly

namespace fs_posix_steps {

int MoveWithoutPrecheck(const ByteString& source, const ByteString& destination) {
    std::string from, to;
    if (!ToNative(source, from) || !ToNative(destination, to)) return 0;
    return MoveNative(PathPlace(from), to);
}

int MoveAcrossDevices(const ByteString& source, const ByteString& destination) {
    std::string from, to;
    if (!ToNative(source, from) || !ToNative(destination, to)) return 0;
    return MoveAcrossDevicesNative(PathPlace(from), to);
}

void SetBeforePublishHookForTesting(std::function<void()> hook) { BeforePublishHook() = std::move(hook); }

void SetUnnamedTempFilesForTesting(bool allowed) { g_unnamedTempFiles = allowed; }

void SetRenameNoReplaceForTesting(bool allowed) { g_renameNoReplace = allowed; }

}  // namespace fs_posix_steps

// ---------------------------------------------------------------------------
// Where the program keeps its files

namespace {

// The base of the user's data folders: an absolute $XDG_DATA_HOME, else
// ~/.local/share (the home folder from $HOME, else from the user database);
// without a trailing slash.  Empty when there is none.
std::string UserDataBase() {
    const auto absolute = [](const char* path) { return path && path[0] == '/'; };
    std::string base;
    if (const char* xdg = getenv("XDG_DATA_HOME"); absolute(xdg)) {
        base = xdg;
    } else {
        const char* home = getenv("HOME");
        if (!absolute(home)) {
            const passwd* user = getpwuid(getuid());
            home = user ? user->pw_dir : nullptr;
        }
        if (!absolute(home)) return std::string();
        base = std::string(home) + "/.local/share";
    }
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    return base;
}

// Creates the folder and its missing parents, those it creates open to their
// owner alone; true when it is a folder afterwards.
bool MakeFolderChainNative(const std::string& folder) {
    for (size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
        const std::string prefix = folder.substr(0, slash);
        if (mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) return false;
        if (slash == std::string::npos) break;
    }
    struct stat st {};
    return stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

int CanCreateFileIn(const ByteString& folder) {
    std::string probe;
    if (folder.empty() || !ToNative(folder + ".tessarbolink-XXXXXX", probe)) return 0;
    const int fd = mkostemp(probe.data(), O_CLOEXEC);
    if (fd < 0) return 0;
    close(fd);
    return unlink(probe.c_str()) == 0 ? 1 : 0;
}

ByteString UserDataFolder() {
    const std::string base = UserDataBase();
    if (base.empty()) return ByteString();
    const std::string folder = base + "/tessarbolink";
    ByteString path;
    // Named in code page 932 or not at all: nothing is created for a folder
    // the program could not use.
    if (!Utf8ToCp932(folder, path) || !MakeFolderChainNative(folder)) return ByteString();
    return path + kPathSeparator;
}
