// Copying, moving and removing files on Linux.  Copies and moves to another
// file system fill a new file beside the destination, which takes its place
// in one step only when complete, so a failure never leaves a file
// half-written.
#include <sys/syscall.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <memory>
#include <string>

#include "fs/copy_move.h"
#include "fs/fs_marks_posix.h"
#include "fs/fs_posix_internal.h"
#include "fs/fs_seams.h"

#ifndef RENAME_NOREPLACE
#define RENAME_NOREPLACE (1 << 0)
#endif

using namespace fs_posix;

namespace {

bool SameTime(const struct timespec& a, const struct timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

constexpr size_t kCopyBufferSize = 256 * 1024;

// A file this large is not copied before a move learns whether its new name
// is free.
constexpr off_t kLargeFile = off_t{1} << 20;

char* CopyBuffer() {
    thread_local std::unique_ptr<char[]> buffer(new char[kCopyBufferSize]);
    return buffer.get();
}

// Copies up to `size` bytes of one file into another with read and write;
// the bytes copied (0 at the end), or -1 when a read or a write failed.
ssize_t ReadWritePiece(int in, int out, size_t size) {
    char* buffer = CopyBuffer();
    size_t copied = 0;
    while (copied < size) {
        const ssize_t got = read(in, buffer, std::min(kCopyBufferSize, size - copied));
        if (got == 0) break;
        if (got < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        for (ssize_t done = 0; done < got;) {
            const ssize_t put = WriteOnce(out, buffer + done, static_cast<size_t>(got - done));
            if (put < 0 && errno == EINTR) continue;
            if (put <= 0) return -1;
            done += put;
        }
        copied += static_cast<size_t>(got);
    }
    return static_cast<ssize_t>(copied);
}

// Copies up to `size` bytes in the kernel; the bytes copied (0 at the end),
// or -1 with errno set.
ssize_t KernelPiece(int in, int out, size_t size) {
    size_t copied = 0;
    while (copied < size) {
        const ssize_t piece = copy_file_range(in, nullptr, out, nullptr, size - copied, 0);
        if (piece == 0) break;
        if (piece < 0) {
            if (errno == EINTR) continue;
            if (copied > 0) break;  // the next piece hears of it
            return -1;
        }
        copied += static_cast<size_t>(piece);
    }
    return static_cast<ssize_t>(copied);
}

// Copies a whole file of the given size in the pieces of pace, in the kernel
// where the file systems allow it, keeping the holes of a sparse file.
bool CopyContent(int in, int out, off_t size, CopyPace& pace) {
    // A file that reports no size (as some kernel files do) may still have
    // content: only reading finds its end.
    bool inKernel = size > 0 && fs_seams::KernelCopyAllowed();
    if (inKernel) {
        if (const int sparse = CopyKeepingHoles(in, out, size, pace); sparse >= 0) return sparse == 1;
    }
    for (;;) {
        // In the kernel the copy stops at the size it began with, as a copy
        // of a file still growing should; reading stops at the file's end.
        const size_t asked =
            inKernel ? static_cast<size_t>(std::min<off_t>(static_cast<off_t>(pace.Next()), size - pace.Copied()))
                     : pace.Next();
        const ssize_t copied = inKernel ? KernelPiece(in, out, asked) : ReadWritePiece(in, out, asked);
        if (copied < 0 && inKernel) {
            // Refused (old kernel, file systems that cannot copy between each
            // other): read and write whatever is left.
            if (errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP && errno != EBADF)
                return false;
            inKernel = false;
            continue;
        }
        if (copied < 0) return false;
        if (copied == 0) {
            // The kernel copy ends where the size said; a file shorter than
            // it said is read to its end.
            if (!inKernel || pace.Copied() >= size) return true;
            inKernel = false;
            continue;
        }
        const off_t start = pace.Copied();
        pace.Done(start, static_cast<size_t>(copied),
                  inKernel ? start + copied >= size : static_cast<size_t>(copied) < asked);
        if (inKernel && pace.Copied() >= size) return true;
    }
}

// Gives the copy the source's permission bits (unless created with them:
// each change is a round trip on a file server) and times.
bool TakeOverAttributes(int out, const struct stat& source, mode_t modeMask, mode_t createdMode) {
    const struct timespec times[2] = {source.st_atim, source.st_mtim};
    const mode_t mode = source.st_mode & modeMask;
    return ((createdMode & 07777) == mode || fchmod(out, mode) == 0) && futimens(out, times) == 0;
}

// The permission bits a moved copy is created with: the source's, but never
// writable by others while it is being filled (it is given them at the end),
// so that nobody can change what is copied before the source goes.
mode_t CreationModeOf(const struct stat& source) { return source.st_mode & 0755; }

int RenameNoReplace(const Place& from, const std::string& to) {
    if (!fs_seams::RenameNoReplaceAllowed()) {
        errno = EINVAL;
        return -1;
    }
    return static_cast<int>(
        syscall(SYS_renameat2, from.dir, from.name.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE));
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
// and attributes, flushed to the disk.  created: the new file as it was
// created (its owner and permission bits are changed only where they differ).
bool FillMovedCopy(int in, int out, const struct stat& source, const struct stat& created, CopyProgress* progress) {
    CopyPace pace(out, source.st_size, progress, true);
    if (!CopyContent(in, out, source.st_size, pace)) return false;
    mode_t createdMode = created.st_mode;
    if (created.st_uid != source.st_uid || created.st_gid != source.st_gid) {
        (void)!fchown(out, source.st_uid, source.st_gid);  // keeps the owner where allowed
        createdMode = ~mode_t{0};  // a change of owner may have taken bits away
    }
    return CopyMarks(in, out) && TakeOverAttributes(out, source, 07777, createdMode) && fsync(out) == 0;
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
bool CopyAndPublish(int in, const struct stat& source, const std::string& destination, FillFolder& fill,
                    struct stat& published, CopyProgress* progress) {
    const std::string folder = FolderOf(destination);
    const mode_t mode = CreationModeOf(source);
    // The status of a file just created costs no request on a file server:
    // the creation's answer carried it.
    struct stat created;
    Fd unnamed(fs_seams::UnnamedTempFilesAllowed() ? open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode) : -1);
    if (unnamed.valid()) {
        if (fstat(unnamed.get(), &created) != 0 || !FillMovedCopy(in, unnamed.get(), source, created, progress) ||
            fstat(unnamed.get(), &published) != 0)
            return false;
        fs_seams::BeforePublish();
        return PublishUnnamed(unnamed.get(), destination);
    }
    std::string temp;
    Fd named = CreateTempIn(fill.Path(), mode, temp);
    if (!named.valid()) return false;
    TempFileGuard guard(temp);
    if (fstat(named.get(), &created) != 0 || !FillMovedCopy(in, named.get(), source, created, progress) ||
        fstat(named.get(), &published) != 0 || !named.Close())
        return false;
    fs_seams::BeforePublish();
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

// Fills a new copy: the content, the marks and the permission bits and times;
// flushed: it is flushed at its end, and so written back as it goes.
bool FillCopy(int in, int out, const struct stat& source, CopyProgress* progress, bool flushed) {
    CopyPace pace(out, source.st_size, progress, flushed);
    return CopyContent(in, out, source.st_size, pace) && CopyMarks(in, out) &&
           TakeOverAttributes(out, source, 0777, ~mode_t{0});
}

// Copies into a new file in the target's folder, which gets a name only when
// it is complete, so that neither a failure nor a kill leaves a half-written
// file under any name.  A copy to a free name is not flushed: its source
// stays, so a crash loses nothing, and copies must run at the speed of a plain
// copy.  A copy that replaces a file is flushed first, since the old file is
// gone once the new one takes its place.
bool CopyInPlaceOf(int in, const struct stat& source, const std::string& target, CopyProgress* progress) {
    const std::string folder = FolderOf(target);
    struct stat old;
    const bool replacing = lstat(target.c_str(), &old) == 0;
    Fd unnamed(fs_seams::UnnamedTempFilesAllowed() ? open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600) : -1);
    if (unnamed.valid()) {
        if (!FillCopy(in, unnamed.get(), source, progress, replacing)) return false;
        if (!replacing && PublishUnnamed(unnamed.get(), target)) return true;
        if (fsync(unnamed.get()) != 0 && errno != EINVAL) return false;
        // A name of its own for the moment of the rename: linkat() cannot
        // replace a file.
        std::string temp;
        for (int attempt = 0; attempt < 100 && temp.empty(); ++attempt) {
            temp = JoinNative(folder, TempName());
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
    FillFolder fill(folder);
    std::string temp;
    Fd out = CreateTempIn(fill.Path(), 0600, temp);
    if (!out.valid()) return false;
    TempFileGuard guard(temp);
    if (!FillCopy(in, out.get(), source, progress, replacing) || (replacing && fsync(out.get()) != 0 && errno != EINVAL) ||
        !out.Close() || rename(temp.c_str(), target.c_str()) != 0)
        return false;
    guard.Keep();
    return true;
}

// Where the file system has no hard links (and no RENAME_NOREPLACE): claims
// the name with an exclusive create, then renames over that claim.
bool MoveOverOwnClaim(const Place& source, const std::string& destination) {
    Fd claim(open(destination.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (!claim.valid()) return false;
    (void)claim.Close();  // an empty file: nothing to lose
    if (renameat(source.dir, source.name.c_str(), AT_FDCWD, destination.c_str()) == 0) return true;
    unlink(destination.c_str());
    return false;
}

// A second name, then the first one dropped: link() never replaces.
bool MoveByLink(const Place& source, const std::string& destination, CopyProgress* progress) {
    if (linkat(source.dir, source.name.c_str(), AT_FDCWD, destination.c_str(), 0) == 0) {
        if (unlinkat(source.dir, source.name.c_str(), 0) == 0) return true;
        unlink(destination.c_str());
        return false;
    }
    switch (errno) {
    case EXDEV: return MoveAcrossDevicesNative(source, destination, progress, nullptr);
    case EPERM:
    case EOPNOTSUPP: return MoveOverOwnClaim(source, destination);
    default: return false;
    }
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

}  // namespace

namespace fs_posix {

void CopyPace::Done(off_t start, size_t bytes, bool last) {
    if (flushed_ && !last) {
        // Errors are the final flush's to report: it flushes all of it again.
        if (writtenLength_ > 0)
            (void)sync_file_range(out_, writtenStart_, writtenLength_,
                                  SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER);
        (void)sync_file_range(out_, start, static_cast<off_t>(bytes), SYNC_FILE_RANGE_WRITE);
        writtenStart_ = start;
        writtenLength_ = static_cast<off_t>(bytes);
    }
    pieces_.Done(bytes);
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
bool MoveAcrossDevicesNative(const Place& source, const std::string& destination, CopyProgress* progress,
                             struct stat* placed) {
    struct stat st;
    Fd in = OpenPlainFileForReading(source, st);
    if (!in.valid()) return false;
    // The publication refuses a name that is taken anyway; a large file is
    // not copied in vain to find that out.
    struct stat existing;
    if (st.st_size > kLargeFile && lstat(destination.c_str(), &existing) == 0) return false;
    FillFolder fill(FolderOf(destination));
    const std::string target = fill.Target(destination.substr(destination.rfind('/') + 1));
    struct stat published;
    if (!CopyAndPublish(in.get(), st, target, fill, published, progress)) return false;
    // The new name is on the disk before the source goes; files placed at the
    // same time share one flush of the folder.
    const bool named = fill.Sync();
    fs_seams::BeforeSourceRemoval();
    if (named && StillTheCopiedFile(in.get(), source, st) && unlinkat(source.dir, source.name.c_str(), 0) == 0) {
        if (placed) *placed = published;
        return true;
    }
    // The source cannot go: take back the copy (only if it is still ours),
    // so that a failed move leaves things as they were.
    struct stat now;
    if (lstat(target.c_str(), &now) == 0 && SameFile(now, published)) unlink(target.c_str());
    return false;
}

bool MoveNative(const Place& source, const std::string& destination, CopyProgress* progress, struct stat* placed) {
    struct stat st;
    if (!StatOf(source, st, false) || S_ISDIR(st.st_mode)) return false;
    bool moved;
    if (RenameNoReplace(source, destination) == 0) {
        moved = true;
    } else {
        switch (errno) {
        case EXDEV: return MoveAcrossDevicesNative(source, destination, progress, placed);
        case EINVAL:
        case ENOSYS:
        case EOPNOTSUPP: moved = MoveByLink(source, destination, progress); break;
        default: return false;
        }
    }
    // Within one file system the file keeps its identity, size and times.
    if (moved && placed) *placed = st;
    return moved;
}

bool CopyNative(const Place& source, const std::string& destination, CopyProgress* progress) {
    struct stat src;
    if (!StatOf(source, src, true) || !S_ISREG(src.st_mode)) return false;

    // A link as destination is written through: its target is replaced and
    // the link stays.  A dangling link is refused rather than followed into a
    // folder nobody chose.
    const std::string target = CopyTarget(destination);
    if (target.empty() || !MayBeReplacedBy(target, src)) return false;

    // The source is opened only now that it is known to be a regular file,
    // and must still be the same one.
    Fd in(openat(source.dir, source.name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat opened;
    if (!in.valid() || fstat(in.get(), &opened) != 0 || !SameFile(opened, src)) return false;
    return CopyInPlaceOf(in.get(), src, target, progress);
}

bool RemoveNative(const Place& place) {
    struct stat st;
    if (!StatOf(place, st, false) || S_ISDIR(st.st_mode)) return false;
    // A file without any write bit is read-only, and a read-only file is not
    // deleted, as on Windows (also for root, whom unlink() lets through).
    if (S_ISREG(st.st_mode) && HasNoWriteBit(st)) return false;
    return unlinkat(place.dir, place.name.c_str(), 0) == 0;
}

}  // namespace fs_posix

// ---------------------------------------------------------------------------
// By path and in open folders

bool MoveNoOverwrite(const ByteString& source, const ByteString& destination, CopyProgress* progress) {
    std::string from, to;
    if (!ToNative(source, from) || !ToNative(destination, to)) return false;
    return MoveNative(PathPlace(from), to, progress);
}

bool CopyOverwrite(const ByteString& source, const ByteString& destination, CopyProgress* progress) {
    std::string from, to;
    if (!ToNative(source, from) || !ToNative(destination, to)) return false;
    return CopyNative(PathPlace(from), to, progress);
}

bool RemoveFile(const ByteString& path) {
    std::string native;
    if (!ToNative(path, native)) return false;
    return RemoveNative(PathPlace(native));
}

bool OpenFolder::MoveNoOverwrite(const ByteString& name, const ByteString& destination, CopyProgress* progress,
                                 std::optional<FileStamp>* placed) const {
    Place place;
    std::string to;
    if (!PlaceIn(state_.get(), name, place) || !ToNative(destination, to)) return false;
    struct stat status;
    if (!MoveNative(place, to, progress, &status)) return false;
    if (placed) *placed = StampOfStatus(status);
    return true;
}

bool OpenFolder::CopyOverwrite(const ByteString& name, const ByteString& destination, CopyProgress* progress) const {
    Place place;
    std::string to;
    if (!PlaceIn(state_.get(), name, place) || !ToNative(destination, to)) return false;
    return CopyNative(place, to, progress);
}

bool OpenFolder::RemoveFile(const ByteString& name) const {
    Place place;
    return PlaceIn(state_.get(), name, place) && RemoveNative(place);
}

bool OpenFolder::MoveNoOverwrite(const ByteString& name, const OpenFolder& to, const ByteString& toName,
                                 CopyProgress* progress) const {
    Place from, target;
    struct stat st;
    if (!PlaceIn(state_.get(), name, from) || !PlaceIn(to.state_.get(), toName, target) ||
        StatOf(target, st, false) || errno != ENOENT)
        return false;
    // The other folder by its descriptor: whatever became of its path, the
    // file lands in that very folder.
    return MoveNative(from, "/proc/self/fd/" + std::to_string(target.dir) + "/" + target.name, progress);
}
