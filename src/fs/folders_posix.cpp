// Files and folders on Linux: what a path names, listings, and folders held
// open by descriptor while a walk handles their entries.
#include <dirent.h>
#include <sys/resource.h>
#include <sys/statvfs.h>

#include <atomic>
#include <cerrno>

#include "fs/folders.h"
#include "fs/fs_posix_internal.h"
#include "text/encoding.h"

using namespace fs_posix;

namespace {

// ---------------------------------------------------------------------------
// Kinds

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

std::optional<bool> OpenFolderIsEmpty(int folder) {
    bool empty = true;
    if (!ReadFolder(folder, [&](const dirent&) { return empty = false; }) && empty) return std::nullopt;
    return empty;
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

}  // namespace

namespace fs_posix {

EntryKind KindOfPlace(const Place& place) {
    struct stat st;
    if (!StatOf(place, st, false)) return EntryKind::Missing;
    if (S_ISLNK(st.st_mode)) return KindOfLinkTarget(place);
    return KindOfMode(st.st_mode);
}

std::optional<int64_t> SizeNative(const Place& place) {
    struct stat st;
    if (!StatOf(place, st, false)) return std::nullopt;
    if (S_ISLNK(st.st_mode) && !StatOf(place, st, true)) return std::nullopt;
    if (!S_ISREG(st.st_mode)) return std::nullopt;
    return static_cast<int64_t>(st.st_size);
}

}  // namespace fs_posix

// ---------------------------------------------------------------------------
// Queries

bool FileExists(const ByteString& path) {
    std::string native;
    struct stat st;
    return ToNative(path, native) && lstat(native.c_str(), &st) == 0;
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
    return IdOfStatus(st);
}

std::optional<FileStamp> FileStampOf(const ByteString& path) {
    std::string native;
    struct stat st;
    if (!ToNative(path, native) || lstat(native.c_str(), &st) != 0) return std::nullopt;
    return StampOfStatus(st);
}

bool CreateFolder(const ByteString& path) {
    std::string native;
    return ToNative(path, native) && mkdir(native.c_str(), 0777) == 0;
}

bool RemoveFolder(const ByteString& path) {
    std::string native;
    return ToNative(path, native) && rmdir(native.c_str()) == 0;
}

bool FolderUnreachable(const ByteString& folder) {
    std::string native;
    if (!ToNative(folder, native)) return false;
    // statvfs() goes to the server on every network and FUSE file system,
    // where a stat() may be answered from the attribute cache.
    struct statvfs st;
    if (statvfs(native.c_str(), &st) == 0) return false;
    switch (errno) {
    case ENOTCONN:
    case EIO:
    case ESTALE:
    case EHOSTDOWN:
    case EHOSTUNREACH:
    case ETIMEDOUT:
    case ECONNABORTED:
    case ECONNRESET:
    case ENETDOWN:
    case ENETUNREACH:
    case ENOLINK:
    case EREMOTEIO:
        return true;
    default:
        return false;
    }
}

// ---------------------------------------------------------------------------
// Open folders

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
    state->id = IdOfStatus(st);
    return state;
}

}  // namespace

OpenFolder OpenFolder::Open(const ByteString& path) {
    std::string native;
    if (!ToNative(path, native)) {
        errno = EINVAL;
        return OpenFolder(FolderState(-1));
    }
    // O_PATH: a folder that may be entered but not listed (no read
    // permission) still leads to its files by name, as its path did.
    return OpenFolder(FolderState(OpenFolderAt(AT_FDCWD, native.c_str(), O_PATH)));
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

bool OpenFolder::NotTheFolder() const {
    return state_ && !state_->fd.valid() &&
           (state_->error == ENOTDIR || state_->error == ELOOP || state_->error == ESTALE);
}

FileId OpenFolder::Id() const { return state_ ? state_->id : FileId{}; }

uint32_t OpenFolder::Mode() const {
    struct stat st;
    if (!IsOpen() || fstat(state_->fd.get(), &st) != 0) return 0;
    return static_cast<uint32_t>(st.st_mode & 07777);
}

uint32_t OpenFolder::Owner() const {
    struct stat st;
    if (!IsOpen() || fstat(state_->fd.get(), &st) != 0) return 0;
    return static_cast<uint32_t>(st.st_uid);
}

bool OpenFolder::OwnedByUserAlone() const {
    // A group or others with write permission: the mode's group bits also
    // show the widest grant of an access list.
    struct stat st;
    return IsOpen() && fstat(state_->fd.get(), &st) == 0 && st.st_uid == geteuid() &&
           (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

bool OpenFolder::List(std::vector<FolderEntry>& entries) const {
    entries.clear();
    return IsOpen() && ListOpenFolder(state_->fd.get(), entries);
}

std::optional<bool> OpenFolder::IsEmpty() const {
    if (!IsOpen()) return std::nullopt;
    return OpenFolderIsEmpty(state_->fd.get());
}

std::optional<int64_t> OpenFolder::FileSizeOf(const ByteString& name) const {
    Place place;
    if (!PlaceIn(state_.get(), name, place)) return std::nullopt;
    return SizeNative(place);
}

bool OpenFolder::RemoveFolder(const ByteString& name, const FileId& id) const {
    Place place;
    struct stat st;
    if (!PlaceIn(state_.get(), name, place) || !StatOf(place, st, false) || !S_ISDIR(st.st_mode) ||
        IdOfStatus(st) != id)
        return false;
    return unlinkat(place.dir, place.name.c_str(), AT_REMOVEDIR) == 0;
}

std::optional<FileStamp> OpenFolder::StampOf(const ByteString& name) const {
    Place place;
    struct stat st;
    if (!PlaceIn(state_.get(), name, place) || !StatOf(place, st, false)) return std::nullopt;
    return StampOfStatus(st);
}

bool OpenFolder::CreateFolder(const ByteString& name) const {
    Place place;
    return PlaceIn(state_.get(), name, place) && mkdirat(place.dir, place.name.c_str(), 0777) == 0;
}


OpenFolder OpenFolder::CreateChild(const ByteString& name, uint32_t mode) const {
    Place place;
    if (!PlaceIn(state_.get(), name, place)) {
        errno = EINVAL;
        return OpenFolder(FolderState(-1));
    }
    if (mkdirat(place.dir, place.name.c_str(), 0700) != 0) return OpenFolder(FolderState(-1));
    auto child = FolderState(OpenFolderAt(place.dir, place.name.c_str(), O_NOFOLLOW));
    // Ours, as made a moment ago, before anyone else may enter it.
    struct stat st;
    if (!child->fd.valid() || fstat(child->fd.get(), &st) != 0 || st.st_uid != geteuid() ||
        (mode != 0 && fchmod(child->fd.get(), static_cast<mode_t>(mode & 07777)) != 0)) {
        child->fd = Fd();
        child->error = EPERM;
    }
    return OpenFolder(std::move(child));
}

std::optional<FileStamp> OpenFolder::ContentStampOf(const ByteString& name) const {
    Place place;
    struct stat st;
    if (!PlaceIn(state_.get(), name, place) || !StatOf(place, st, true)) return std::nullopt;
    return StampOfStatus(st);
}
