// Extended attributes and holes of copies across file systems on Linux.
#include "fs/fs_marks_posix.h"

#include "fs/fs_posix_internal.h"

#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

namespace {

bool StartsWith(const char* text, const char* prefix) { return std::strncmp(text, prefix, std::strlen(prefix)) == 0; }

// Errors of a destination that cannot hold a mark, rather than one that
// fails: the mark is dropped and the copy stands.
bool CannotHold(int error) {
    switch (error) {
    case ENOTSUP:
    case EPERM:
    case EACCES:
    case E2BIG:
    case ERANGE:
    case EINVAL:
    case ENOSPC:
    case EDQUOT:
    case ENOSYS: return true;
    default: return false;
    }
}

// A list of names or a value, grown until it fits (another process may make
// it grow meanwhile).  False with errno on failure.
template <typename Query>
bool ReadGrowing(std::vector<char>& buffer, Query query) {
    for (int attempt = 0; attempt < 8; ++attempt) {
        const ssize_t size = query(nullptr, 0);
        if (size < 0) return false;
        buffer.resize(static_cast<size_t>(size));
        if (size == 0) return true;
        const ssize_t got = query(buffer.data(), buffer.size());
        if (got >= 0) {
            buffer.resize(static_cast<size_t>(got));
            return true;
        }
        if (errno != ERANGE) return false;
    }
    errno = ERANGE;
    return false;
}

// Writes the whole range at the offset; false when the disk takes no more.
bool WriteAt(int out, const char* data, size_t size, off_t at) {
    while (size > 0) {
        const ssize_t put = pwrite(out, data, size, at);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        data += put;
        size -= static_cast<size_t>(put);
        at += put;
    }
    return true;
}

// Copies the bytes [from, to) at the same place, in the kernel where it can.
bool CopyRange(int in, int out, off_t from, off_t to) {
    while (from < to) {
        loff_t inAt = from, outAt = from;
        const ssize_t copied = copy_file_range(in, &inAt, out, &outAt, static_cast<size_t>(to - from), 0);
        if (copied > 0) {
            from += copied;
            continue;
        }
        if (copied < 0 && errno == EINTR) continue;
        if (copied < 0 && errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP &&
            errno != EBADF)
            return false;
        break;
    }
    std::vector<char> buffer(std::min<off_t>(to - from, 256 * 1024));
    while (from < to) {
        const ssize_t got = pread(in, buffer.data(), static_cast<size_t>(std::min<off_t>(to - from, buffer.size())), from);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return got == 0;  // the file got shorter: the caller's checks see it
        if (!WriteAt(out, buffer.data(), static_cast<size_t>(got), from)) return false;
        from += got;
    }
    return true;
}

}  // namespace

bool CopyMarks(int from, int to) {
    std::vector<char> names;
    if (!ReadGrowing(names, [from](char* list, size_t size) { return flistxattr(from, list, size); }))
        return errno == ENOTSUP || errno == ENOSYS;  // a source without marks
    std::vector<char> value;
    for (size_t at = 0; at < names.size();) {
        const char* name = names.data() + at;
        at += std::strlen(name) + 1;
        if (StartsWith(name, "trusted.")) continue;
        if (!ReadGrowing(value, [from, name](char* data, size_t size) { return fgetxattr(from, name, data, size); })) {
            if (errno == ENODATA || errno == EPERM || errno == EACCES || errno == ENOTSUP) continue;  // gone, or not ours to read
            return false;
        }
        if (fsetxattr(to, name, value.data(), value.size(), 0) != 0 && !CannotHold(errno)) return false;
    }
    return true;
}

int CopyKeepingHoles(int in, int out, off_t size, fs_posix::CopyPace& pace) {
    struct stat st;
    if (size <= 0 || fstat(in, &st) != 0 || static_cast<off_t>(st.st_blocks) * 512 >= size) return -1;
    off_t at = 0;
    while (at < size) {
        const off_t data = lseek(in, at, SEEK_DATA);
        if (data < 0) {
            if (errno == ENXIO) break;  // nothing but a hole up to the end
            return at == 0 ? -1 : 0;
        }
        if (data >= size) break;
        off_t hole = lseek(in, data, SEEK_HOLE);
        if (hole < 0) return 0;
        hole = std::min(hole, size);
        pace.Skipped(data - at);
        for (off_t piece = data; piece < hole;) {
            const off_t end = std::min<off_t>(hole, piece + static_cast<off_t>(pace.Next()));
            if (!CopyRange(in, out, piece, end)) return 0;
            pace.Done(piece, static_cast<size_t>(end - piece), end >= size);
            piece = end;
        }
        at = hole;
    }
    pace.Skipped(size - at);
    // The end of the file, holes included.
    return ftruncate(out, size) == 0 ? 1 : 0;
}
