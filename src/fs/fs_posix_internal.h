#pragma once
// What the POSIX files of the file layer share: native paths, descriptors,
// errors, temporary files, and the steps one file's operations lend another.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <vector>

#include "fs/copy_progress.h"
#include "fs/file_error.h"
#include "fs/folders.h"
#include "text/byte_string.h"

namespace fs_posix {

// ---------------------------------------------------------------------------
// Paths

// The UTF-8 form of a path, or false when it has none.  A NUL byte would cut
// the path short in a system call, so it makes the path unusable too.
bool ToNative(const ByteString& path, std::string& native);

// The folder part of a native path ("." for a bare name).
std::string FolderOf(const std::string& native);

std::string JoinNative(const std::string& folder, const std::string& name);

// A file reached by name inside an open folder, or (dir AT_FDCWD) by a path.
struct Place {
    int dir;
    std::string name;
};

inline Place PathPlace(std::string path) { return Place{AT_FDCWD, std::move(path)}; }

inline bool StatOf(const Place& place, struct stat& st, bool followLink) {
    return fstatat(place.dir, place.name.c_str(), &st, followLink ? 0 : AT_SYMLINK_NOFOLLOW) == 0;
}

inline bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

inline FileId IdOfStatus(const struct stat& st) {
    return FileId{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
}

FileStamp StampOfStatus(const struct stat& st);

inline bool HasNoWriteBit(const struct stat& st) { return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0; }

// ---------------------------------------------------------------------------
// Descriptors, errors and writing

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
    // False when the system reports a failure of the close (errno says why).
    [[nodiscard]] bool Close() {
        const int result = close(fd_);
        fd_ = -1;
        return result == 0;
    }

private:
    int fd_;
};

// The cause of the file-error message for an errno value.
FileErrorCause CauseOf(int error);

// write(2) once; it may store fewer bytes than asked.
ssize_t WriteOnce(int fd, const char* data, size_t size);

// Writes the text in full 1024-byte blocks, then the rest; a failed write
// throws, and one that stores fewer bytes than asked means the disk is full.
void WriteInBlocks(int fd, const ByteString& text, const ByteString& path);
void WriteOrThrow(int fd, const char* data, size_t size, const ByteString& path);

// Closes a file whose failure to close must be reported.
void CloseOrThrow(Fd& fd, const ByteString& path);

// Opens with O_NONBLOCK so that a FIFO never blocks the program, then refuses
// anything that is not a regular file or a device.
Fd OpenFileLike(const std::string& native, int flags, mode_t mode, struct stat& st);

// Flushes a folder's entries (a new name in it) to the disk.
void SyncFolder(const std::string& folder);

// The same for a name just placed, where failing matters: false when the
// folder's entries may not be on the disk.  Callers on several threads that
// ask at the same time share one flush, which covers every name placed before
// it began.  held: the folder open already (-1: opened by its path);
// expected: how many callers may come at about the same time, for whom a
// flush waits a moment.
[[nodiscard]] bool SyncFolderShared(const std::string& folder, int held = -1, int expected = 1);

// ---------------------------------------------------------------------------
// Temporary files

// A fresh hidden name of the form ".tessarbolink-<random>.tmp".
std::string TempName();

// A new file with a fresh hidden name in the folder, created exclusively.
Fd CreateTempIn(const std::string& folder, mode_t mode, std::string& tempPath);

// Where a moved copy bound for a folder is filled, for as long as it lives:
// the folder itself for a mover alone there, and a hidden folder of its own
// (fill_folders_posix.cpp) for each mover that comes while others are at work.
class FillFolder {
public:
    explicit FillFolder(const std::string& destination);
    ~FillFolder();
    FillFolder(const FillFolder&) = delete;
    FillFolder& operator=(const FillFolder&) = delete;
    // The folder to create a named hidden file in (a hidden folder by its
    // descriptor, whatever becomes of its name), made or taken on the first
    // call.
    std::string Path();
    // The path of a name in the destination folder, through the folder held
    // open while movers are at work there, so that the name given is the one
    // that Sync flushes.
    std::string Target(const std::string& name);
    // Flushes the destination folder's entries, one flush for the movers
    // that ask at the same time (SyncFolderShared).
    [[nodiscard]] bool Sync() const;

private:
    std::string destination_;
    std::string path_;
    Fd folder_;
    int destinationFd_ = -1;  // held by the movers of the destination together
    int together_ = 1;        // movers at work there when this one came
};

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

// ---------------------------------------------------------------------------
// Steps one file of the layer lends another

// What a path or an entry names, without following a final link.
EntryKind KindOfPlace(const Place& place);

// The size of a regular file, or of the one a link leads to.
std::optional<int64_t> SizeNative(const Place& place);

// The pieces of one copy into out: each told to the progress and, for a copy
// that is flushed at its end, written back to the disk as it goes, each piece
// waiting for the one before it, so that the final flush never finds
// gigabytes to write (and the copy keeps reporting meanwhile).
class CopyPace {
public:
    CopyPace(int out, off_t size, CopyProgress* progress, bool flushed)
        : out_(out), flushed_(flushed), pieces_(progress, size) {}

    // How many bytes the next piece copies.
    size_t Next() const { return pieces_.Next(); }
    // A piece of bytes written at start is done; the last one is left to the
    // final flush (a small file: all of it).
    void Done(off_t start, size_t bytes, bool last);
    // Bytes passed over without writing (a hole).
    void Skipped(off_t bytes) { pieces_.Skipped(bytes); }
    off_t Copied() const { return static_cast<off_t>(pieces_.Copied()); }

private:
    int out_;
    bool flushed_;
    CopyPieces pieces_;
    off_t writtenStart_ = 0;  // the piece written back last, not yet waited for
    off_t writtenLength_ = 0;
};

// The move itself, without the early "destination already exists" check: it
// must still refuse a destination that exists by the time it runs.
// placed, when given, gets the status of the file now at the destination.
bool MoveNative(const Place& source, const std::string& destination, CopyProgress* progress = nullptr,
                struct stat* placed = nullptr);

// The move to another file system (copy, publish, remove the source), as used
// when a rename meets a device boundary.
bool MoveAcrossDevicesNative(const Place& source, const std::string& destination, CopyProgress* progress = nullptr,
                             struct stat* placed = nullptr);

bool CopyNative(const Place& source, const std::string& destination, CopyProgress* progress = nullptr);
bool RemoveNative(const Place& place);

}  // namespace fs_posix

// A folder held by its descriptor; errno of a failed open.
struct OpenFolder::State {
    fs_posix::Fd fd;
    FileId id;
    int error = 0;
};

namespace fs_posix {

// The place of a file name in an open folder; false for a name that is no
// single name of this folder, or a folder that is not open.
bool PlaceIn(const OpenFolder::State* folder, const ByteString& name, Place& place);

}  // namespace fs_posix
