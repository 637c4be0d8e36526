// The program's own files on Linux: the whole-file reads and writes of the
// settings file, the logs and the undo journal, the program's path, and the
// user's data folder.
#include <sys/file.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "fs/fs_posix_internal.h"
#include "fs/home_folder_posix.h"
#include "fs/program_files.h"
#include "text/encoding.h"

using namespace fs_posix;

namespace {

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

// The base of the user's data folders: an absolute $XDG_DATA_HOME, else
// ~/.local/share (the home folder from $HOME, else from the user database);
// without a trailing slash.  Empty when there is none.
std::string UserDataBase() {
    const auto absolute = [](const char* path) { return path && path[0] == '/'; };
    std::string base;
    if (const char* xdg = getenv("XDG_DATA_HOME"); absolute(xdg)) {
        base = xdg;
    } else {
        const std::string home = HomeFolderNative();
        if (home.empty()) return std::string();
        base = home + "/.local/share";
    }
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    return base;
}

// Creates the folder and its missing parents, those it creates open to their
// owner alone; false when one could not be created (one that is there
// already, of whatever kind, is for the caller to judge).
bool MakeFolderChainNative(const std::string& folder) {
    for (size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
        const std::string prefix = folder.substr(0, slash);
        if (mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) return false;
        if (slash == std::string::npos) return true;
    }
}

}  // namespace

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

bool WriteTextFile(const ByteString& path, const ByteString& text) {
    std::string native;
    if (!ToNative(path, native)) return false;

    // The owner's read and write permission is added, so that a file marked
    // read-only is written all the same; nothing else changes.
    struct stat st;
    if (stat(native.c_str(), &st) == 0 && S_ISREG(st.st_mode))
        (void)chmod(native.c_str(), (st.st_mode & 07777) | S_IRUSR | S_IWUSR);

    // Opens the file or creates it, in one step; it is truncated below, once
    // it is known to be a regular file.
    Fd fd = OpenFileLike(native, O_WRONLY | O_CREAT, 0666, st);
    if (!fd.valid()) return false;

    if (S_ISREG(st.st_mode) && ftruncate(fd.get(), 0) != 0)
        throw FileError(CauseOf(errno), FileStep::Truncate, path);
    WriteInBlocks(fd.get(), text, path);
    CloseOrThrow(fd, path);
    return true;
}

bool WriteTextFileSafely(const ByteString& path, const ByteString& text) {
    std::string native;
    if (!ToNative(path, native)) return false;

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
    return true;
}

bool AppendTextToFile(const ByteString& path, const ByteString& text) {
    std::string native;
    if (!ToNative(path, native)) return false;

    // A file without any write bit is read-only for this program, also for
    // root, whom open() would let through.
    struct stat st;
    if (stat(native.c_str(), &st) == 0 && S_ISREG(st.st_mode) && HasNoWriteBit(st)) return false;

    Fd fd = OpenFileLike(native, O_WRONLY | O_APPEND | O_CREAT, 0666, st);
    if (!fd.valid()) return false;

    BufferedWriter writer(fd.get(), path);
    for (const char byte : text) writer.Put(byte);
    writer.Flush();
    CloseOrThrow(fd, path);
    return true;
}

// ---------------------------------------------------------------------------
// The program's own files: records added one by one, pieces read back, a lock

struct AppendFile::State {
    Fd fd;
    std::string path;
    off_t size = 0;  // where the last whole append ended
};

AppendFile::AppendFile() = default;
AppendFile::AppendFile(std::unique_ptr<State> state) : state_(std::move(state)) {}
AppendFile::~AppendFile() = default;
AppendFile::AppendFile(AppendFile&& other) noexcept = default;
AppendFile& AppendFile::operator=(AppendFile&& other) noexcept = default;

AppendFile AppendFile::CreateNew(const ByteString& path) {
    std::string native;
    if (!ToNative(path, native) || !RemoveOwnFile(path)) return AppendFile();
    Fd fd(open(native.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    // The mask of the process may only take bits away: 0600 it is.
    if (!fd.valid() || fchmod(fd.get(), 0600) != 0) return AppendFile();
    auto state = std::make_unique<State>();
    state->fd = std::move(fd);
    state->path = std::move(native);
    return AppendFile(std::move(state));
}

bool AppendFile::IsOpen() const { return state_ && state_->fd.valid(); }

bool AppendFile::Append(const ByteString& bytes) {
    if (!IsOpen()) return false;
    for (size_t done = 0; done < bytes.size();) {
        const ssize_t put = WriteOnce(state_->fd.get(), bytes.data() + done, bytes.size() - done);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) {
            if (ftruncate(state_->fd.get(), state_->size) != 0) state_->fd = Fd();
            return false;
        }
        done += static_cast<size_t>(put);
    }
    state_->size += static_cast<off_t>(bytes.size());
    return true;
}

bool AppendFile::Rename(const ByteString& path) {
    std::string native;
    if (!IsOpen() || !ToNative(path, native) || rename(state_->path.c_str(), native.c_str()) != 0) return false;
    state_->path = std::move(native);
    return true;
}

bool RemoveOwnFile(const ByteString& path) {
    std::string native;
    struct stat st;
    if (!ToNative(path, native)) return false;
    if (lstat(native.c_str(), &st) != 0) return errno == ENOENT;
    return !S_ISDIR(st.st_mode) && (unlink(native.c_str()) == 0 || errno == ENOENT);
}

struct OwnFileReader::State {
    Fd fd;
    uint64_t size = 0;
};

OwnFileReader::OwnFileReader() = default;
OwnFileReader::OwnFileReader(std::unique_ptr<State> state) : state_(std::move(state)) {}
OwnFileReader::~OwnFileReader() = default;
OwnFileReader::OwnFileReader(OwnFileReader&& other) noexcept = default;
OwnFileReader& OwnFileReader::operator=(OwnFileReader&& other) noexcept = default;

OwnFileReader OwnFileReader::Open(const ByteString& path) {
    std::string native;
    if (!ToNative(path, native)) return OwnFileReader();
    // O_NONBLOCK: a FIFO of that name never blocks the program; it is refused below.
    Fd fd(open(native.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat st;
    if (!fd.valid() || fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid() ||
        (st.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        return OwnFileReader();
    auto state = std::make_unique<State>();
    state->fd = std::move(fd);
    state->size = static_cast<uint64_t>(st.st_size);
    return OwnFileReader(std::move(state));
}

bool OwnFileReader::IsOpen() const { return state_ && state_->fd.valid(); }

uint64_t OwnFileReader::Size() const { return IsOpen() ? state_->size : 0; }

int64_t OwnFileReader::ReadAt(uint64_t offset, char* buffer, size_t size) const {
    if (!IsOpen()) return -1;
    for (;;) {
        const ssize_t got = pread(state_->fd.get(), buffer, size, static_cast<off_t>(offset));
        if (got >= 0 || errno != EINTR) return got;
    }
}

struct ProgramLock::State {
    Fd fd;
};

ProgramLock::ProgramLock() = default;
ProgramLock::ProgramLock(std::unique_ptr<State> state) : state_(std::move(state)) {}
ProgramLock::~ProgramLock() = default;  // closing the file ends the lock
ProgramLock::ProgramLock(ProgramLock&& other) noexcept = default;
ProgramLock& ProgramLock::operator=(ProgramLock&& other) noexcept = default;

ProgramLock ProgramLock::Take(const ByteString& path, Outcome& outcome) {
    outcome = Outcome::Unavailable;
    std::string native;
    if (!ToNative(path, native)) return ProgramLock();
    Fd fd(open(native.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600));
    struct stat st;
    if (!fd.valid() || fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return ProgramLock();
    // flock: a lock of this open file, so two opens in one process exclude
    // each other as two processes do.
    while (flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR) continue;
        if (errno == EWOULDBLOCK) outcome = Outcome::Busy;
        return ProgramLock();
    }
    outcome = Outcome::Taken;
    auto state = std::make_unique<State>();
    state->fd = std::move(fd);
    return ProgramLock(std::move(state));
}

bool ProgramLock::Held() const { return state_ && state_->fd.valid(); }

// ---------------------------------------------------------------------------
// The program and its data folder

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

bool CanCreateFileIn(const ByteString& folder) {
    std::string probe;
    if (folder.empty() || !ToNative(folder + ".tessarbolink-XXXXXX", probe)) return false;
    const int fd = mkostemp(probe.data(), O_CLOEXEC);
    if (fd < 0) return false;
    close(fd);
    return unlink(probe.c_str()) == 0;
}

DataFolderChoice UserDataFolder() {
    const std::string base = UserDataBase();
    if (base.empty()) return {};
    const std::string folder = base + "/tessarbolink";
    ByteString path;
    // Named in code page 932 or not at all: nothing is created for a folder
    // the program could not use.
    if (!Utf8ToCp932(folder, path) || !MakeFolderChainNative(folder)) return {};
    path += kPathSeparator;
    // The folder itself, not what a link of its name leads to.
    struct stat st {};
    if (lstat(folder.c_str(), &st) != 0) return {};
    if (S_ISLNK(st.st_mode)) return {path, DataFolderFault::Link};
    if (!S_ISDIR(st.st_mode)) return {path, DataFolderFault::NotAFolder};
    if (st.st_uid != geteuid()) return {path, DataFolderFault::OtherOwner};
    if (st.st_mode & (S_IWGRP | S_IWOTH)) return {path, DataFolderFault::OthersMayWrite};
    return {path, DataFolderFault::None};
}
