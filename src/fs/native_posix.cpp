// The groundwork of the file layer on Linux.  Paths arrive as code page 932
// bytes and are converted strictly to UTF-8 before any system call: a path
// without an exact UTF-8 form fails the operation, so no other file is ever
// touched in its place.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <cerrno>
#include <cstdio>
#include <random>

#include "fs/fs_posix_internal.h"
#include "fs/fs_seams.h"
#include "text/encoding.h"

const char kPathSeparator = '/';

namespace fs_posix {

// ---------------------------------------------------------------------------
// Paths

bool ToNative(const ByteString& path, std::string& native) {
    if (path.empty() || path.find('\0') != ByteString::npos) return false;
    return Cp932ToUtf8(path, native);
}

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

FileStamp StampOfStatus(const struct stat& st) {
    return FileStamp{IdOfStatus(st), static_cast<int64_t>(st.st_size),
                     static_cast<int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec};
}

bool PlaceIn(const OpenFolder::State* folder, const ByteString& name, Place& place) {
    if (!folder || !folder->fd.valid() || !ToNative(name, place.name) || place.name.find('/') != std::string::npos)
        return false;
    place.dir = folder->fd.get();
    return true;
}

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

ssize_t WriteOnce(int fd, const char* data, size_t size) {
    size = fs_seams::WriteAllowance(size);
    if (size == 0) return 0;
    const ssize_t written = write(fd, data, size);
    if (written > 0) fs_seams::Wrote(static_cast<size_t>(written));
    return written;
}

void WriteOrThrow(int fd, const char* data, size_t size, const ByteString& path) {
    if (size == 0) return;
    ssize_t written;
    do {
        written = WriteOnce(fd, data, size);
    } while (written < 0 && errno == EINTR);
    if (written < 0) throw FileError(CauseOf(errno), FileStep::Write, path);
    if (static_cast<size_t>(written) < size) throw FileError(FileErrorCause::DiskFull, FileStep::Write, path);
}

void WriteInBlocks(int fd, const ByteString& text, const ByteString& path) {
    constexpr size_t kBlock = 1024;
    for (size_t at = 0; at < text.size(); at += kBlock)
        WriteOrThrow(fd, text.data() + at, std::min(kBlock, text.size() - at), path);
}

void CloseOrThrow(Fd& fd, const ByteString& path) {
    if (!fd.Close()) throw FileError(CauseOf(errno), FileStep::Close, path);
}

Fd OpenFileLike(const std::string& native, int flags, mode_t mode, struct stat& st) {
    Fd fd(open(native.c_str(), flags | O_NONBLOCK | O_CLOEXEC, mode));
    if (!fd.valid()) return fd;
    if (fstat(fd.get(), &st) != 0 || S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode) || S_ISDIR(st.st_mode))
        return Fd();
    const int status = fcntl(fd.get(), F_GETFL);
    if (status >= 0) fcntl(fd.get(), F_SETFL, status & ~O_NONBLOCK);
    return fd;
}

void SyncFolder(const std::string& folder) {
    Fd fd(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.valid()) fsync(fd.get());
}

namespace {

bool SyncFolderNow(const std::string& folder, int held) {
    Fd opened(held >= 0 ? -1 : open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    const int fd = held >= 0 ? held : opened.get();
    // A folder the user may write to but not read (a drop box) cannot be
    // opened to be flushed: its names are as safe as the system makes them.
    if (fd < 0) return errno == EACCES || errno == EPERM;
    // EINVAL: a file system that cannot flush a folder, nor needs to.
    return fsync(fd) == 0 || errno == EINVAL;
}

// The flushes of each folder: tickets handed out to the callers, and the
// last ticket that a finished flush covered.
// How long a flush waits for more names to cover.
constexpr auto kGatherNames = std::chrono::milliseconds(4);

struct FolderFlush {
    uint64_t asked = 0;
    uint64_t covered = 0;
    bool running = false;
    int callers = 0;
};

}  // namespace

bool SyncFolderShared(const std::string& folder, int held, int expected) {
    static std::mutex mutex;
    static std::condition_variable finished;
    static std::map<std::string, FolderFlush> flushes;

    std::unique_lock lock(mutex);
    FolderFlush& flush = flushes[folder];
    ++flush.callers;
    // Every name placed before this ticket is covered by a flush that
    // begins after it is taken.
    const uint64_t ticket = ++flush.asked;
    finished.notify_all();
    bool synced = true;
    // A flush waits a moment for the names that other movers are about to
    // give, so that one flush covers them too.
    const auto gathered = std::chrono::steady_clock::now() + kGatherNames;
    while (flush.covered < ticket) {
        if (flush.running) {
            finished.wait(lock);
            continue;
        }
        if (flush.asked - flush.covered < static_cast<uint64_t>(expected) &&
            finished.wait_until(lock, gathered) == std::cv_status::no_timeout)
            continue;
        flush.running = true;
        const uint64_t covers = flush.asked;
        lock.unlock();
        synced = SyncFolderNow(folder, held);
        lock.lock();
        flush.running = false;
        if (synced) flush.covered = std::max(flush.covered, covers);
        finished.notify_all();
        if (!synced) break;  // the others waiting try a flush of their own
    }
    if (--flush.callers == 0) flushes.erase(folder);
    return synced;
}

// ---------------------------------------------------------------------------
// Temporary files

std::string TempName() {
    thread_local std::mt19937_64 generator{std::random_device{}()};
    char text[40];
    std::snprintf(text, sizeof text, ".tessarbolink-%016llx.tmp", static_cast<unsigned long long>(generator()));
    return text;
}

Fd CreateTempIn(const std::string& folder, mode_t mode, std::string& tempPath) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        tempPath = JoinNative(folder, TempName());
        Fd fd(open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
        if (fd.valid()) return fd;
        if (errno != EEXIST) break;
    }
    tempPath.clear();
    return Fd();
}

}  // namespace fs_posix
