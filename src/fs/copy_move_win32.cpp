// Copying, moving and removing files on Windows.  A copy, and a move to
// another volume, fill a new file beside the destination, which takes its
// place in one step only when complete, so a failure never leaves a file
// half-written.
#include "fs/copy_move.h"
#include "fs/copy_progress.h"
#include "fs/fs_marks_win32.h"
#include "fs/fs_seams.h"
#include "fs/fs_win32_internal.h"

using namespace fs_win32;

namespace {

// Copies what is left of an open file into another in the pieces of pace;
// false when a read, a write or a flush fails.
bool CopyContent(HANDLE from, HANDLE to, CopyPace& pace) {
    std::string block(kBlockSize, '\0');
    FileErrorCause cause;
    for (;;) {
        size_t piece = 0;
        for (DWORD got = kBlockSize; piece < pace.Next() && got > 0; piece += got) {
            if (!ReadFile(from, block.data(), kBlockSize, &got, nullptr)) return false;
            if (got > 0 && !TryWriteAll(to, block.data(), got, cause)) return false;
        }
        if (piece == 0) return true;
        // A piece that ended the file is left to the final flush.
        if (!pace.Done(piece, piece < pace.Next())) return false;
    }
}

// The marks a copy takes over, as the platform copy does; a copy is new, so
// it is marked for backup.
DWORD CopiedAttributes(DWORD source) {
    const DWORD kept = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                       FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    return (source & kept) | FILE_ATTRIBUTE_ARCHIVE;
}

// Copies `source` to a fresh file beside `target`, keeping its modification
// time, attributes, streams and holes; with flush, the copy is on the disk
// before it is closed.  What the source was when the copy started goes to copied.  False,
// leaving nothing behind, when it fails.  The copy is done here rather than by
// CopyFileW so that every byte goes through the one writer that reports short
// writes.  Nobody may write to the source meanwhile.
bool CopyToTempBeside(const std::wstring& source, const std::wstring& target, std::wstring& tempPath, bool flush,
                      BY_HANDLE_FILE_INFORMATION& info, CopyProgress* progress) {
    const Handle from(CreateFileW(source.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!from.valid() || !GetFileInformationByHandle(from.get(), &info)) return false;
    Handle to = CreateTempBeside(target, tempPath);
    if (!to.valid()) return false;
    CopyPace pace(to.get(), (static_cast<int64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow, progress, flush);
    const int sparse = CopyKeepingHoles(from.get(), to.get(), info, pace);
    const bool copied = (sparse < 0 ? CopyContent(from.get(), to.get(), pace) : sparse == 1) &&
                        CopyNamedStreams(source, tempPath) &&
                        SetFileTime(to.get(), nullptr, nullptr, &info.ftLastWriteTime) &&
                        (!flush || FlushFileBuffers(to.get())) && to.Close();
    if (!copied) {
        (void)to.Close();  // the copy is given up
        RemoveTemp(tempPath);
        return false;
    }
    // A new file is marked for backup already; only other marks need a call.
    const DWORD marks = CopiedAttributes(info.dwFileAttributes);
    if (marks != FILE_ATTRIBUTE_ARCHIVE) SetFileAttributesW(tempPath.c_str(), marks);
    return true;
}

// Deletes a file whose read-only mark stands in the way, as a rename within
// one volume would have moved it all the same; the mark comes back when the
// delete fails.
bool DeleteEvenIfReadOnly(const std::wstring& native, DWORD attributes) {
    ClearReadOnly(native, attributes);
    if (DeleteFileW(native.c_str())) return true;
    if (IsReadOnlyFile(attributes)) SetFileAttributesW(native.c_str(), attributes);
    return false;
}

// Whether the path still names the very file that was copied, unchanged:
// same identity, size and modification time as when the copy started.
bool StillTheCopiedFile(const std::wstring& native, const BY_HANDLE_FILE_INFORMATION& copied) {
    const Handle handle = OpenForQuery(native, false);
    BY_HANDLE_FILE_INFORMATION now;
    return handle.valid() && GetFileInformationByHandle(handle.get(), &now) &&
           now.dwVolumeSerialNumber == copied.dwVolumeSerialNumber && now.nFileIndexHigh == copied.nFileIndexHigh &&
           now.nFileIndexLow == copied.nFileIndexLow && now.nFileSizeHigh == copied.nFileSizeHigh &&
           now.nFileSizeLow == copied.nFileSizeLow &&
           CompareFileTime(&now.ftLastWriteTime, &copied.ftLastWriteTime) == 0;
}

// Whether two paths name files of the same size and modification time.
bool SameSizeAndTime(const std::wstring& one, const std::wstring& other) {
    WIN32_FILE_ATTRIBUTE_DATA a, b;
    return GetFileAttributesExW(one.c_str(), GetFileExInfoStandard, &a) &&
           GetFileAttributesExW(other.c_str(), GetFileExInfoStandard, &b) && a.nFileSizeHigh == b.nFileSizeHigh &&
           a.nFileSizeLow == b.nFileSizeLow && CompareFileTime(&a.ftLastWriteTime, &b.ftLastWriteTime) == 0;
}

// After the system reported a move as done: whether the source is gone.  A
// source still there (a system that copied the file and could not delete
// it) means the move is not done: the placed file is taken back if it is
// still what the source is, and the source stays.  A source that cannot be
// asked about counts as not gone either; the placed file then stays, as it
// may be the only one left (a file whose deletion waits for another
// program's handle cannot be asked about).
bool SourceGone(const std::wstring& from, const std::wstring& to) {
    fs_seams::AfterMoveReported(from, to);
    if (AttributesOf(from) != INVALID_FILE_ATTRIBUTES) {
        if (SameSizeAndTime(from, to)) RemoveTemp(to);
        return false;
    }
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// Moves a file to another volume: a copy beside the destination, flushed to
// the disk, published under its name only while that is free, then the
// source deleted, only if it is still the very file that was copied,
// unchanged.  When the source cannot or must not go, the copy is taken back,
// so a failed move leaves one file where it was.  Links are not carried
// across (a copy would turn one into a second file).
bool MoveAcrossVolumes(const std::wstring& from, const std::wstring& to, DWORD attributes, CopyProgress* progress) {
    if (IsLinkByAttributes(attributes, from)) return false;
    std::wstring temp;
    BY_HANDLE_FILE_INFORMATION copied;
    if (!CopyToTempBeside(from, to, temp, true, copied, progress)) return false;
    if (!MoveFileExW(temp.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH)) {
        RemoveTemp(temp);
        return false;
    }
    const std::optional<FileId> published = IdOf(to, false);
    fs_seams::BeforeSourceRemoval();
    if (StillTheCopiedFile(from, copied) && DeleteEvenIfReadOnly(from, attributes)) return SourceGone(from, to);
    if (published && IdOf(to, false) == published) RemoveTemp(to);
    return false;
}

}  // namespace

bool MoveNoOverwrite(const ByteString& source, const ByteString& destination, CopyProgress* progress) {
    std::wstring from, to;
    if (!NativePathOf(source, from) || !NativePathOf(destination, to)) return false;
    const DWORD attributes = AttributesOf(from);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
    if (FileExists(destination)) return false;
    // Without MOVEFILE_REPLACE_EXISTING the platform itself refuses to
    // replace a file, also one that appeared since the check.
    if (MoveFileExW(from.c_str(), to.c_str(), 0)) return SourceGone(from, to);
    if (GetLastError() != ERROR_NOT_SAME_DEVICE) return false;
    // Not MOVEFILE_COPY_ALLOWED: when the source cannot be deleted after the
    // copy, it reports success and leaves the file twice.
    return MoveAcrossVolumes(from, to, attributes, progress);
}

bool CopyOverwrite(const ByteString& source, const ByteString& destination, CopyProgress* progress) {
    std::wstring from, to;
    if (!NativePathOf(source, from) || !NativePathOf(destination, to)) return false;
    if (KindOfAttributes(AttributesOf(from), from) != EntryKind::File) return false;
    const DWORD existing = AttributesOf(to);
    if (existing != INVALID_FILE_ATTRIBUTES) {
        if (existing & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) return false;
        // A copy onto the file itself would destroy it.  When either identity
        // cannot be read, nothing proves they differ.
        const auto sourceId = IdOf(from, true);
        const auto destinationId = IdOf(to, true);
        if (!sourceId || !destinationId || *sourceId == *destinationId) return false;
    }
    // The copy is made beside the destination and takes its place only when
    // complete, so a copy that fails part-way leaves the old one as it was.
    // One that replaces a file is flushed first: the old file is gone once
    // the new one takes its place.
    std::wstring temp;
    BY_HANDLE_FILE_INFORMATION copied;
    if (!CopyToTempBeside(from, to, temp, existing != INVALID_FILE_ATTRIBUTES, copied, progress)) return false;
    if (MoveFileExW(temp.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
    RemoveTemp(temp);
    return false;
}

bool RemoveFile(const ByteString& path) {
    std::wstring native;
    return NativePathOf(path, native) && DeleteFileW(native.c_str());
}

// ---------------------------------------------------------------- in open folders

bool OpenFolder::MoveNoOverwrite(const ByteString& name, const ByteString& destination, CopyProgress* progress,
                                 std::optional<FileStamp>* placed) const {
    if (!StillHeld(state_.get()) || !::MoveNoOverwrite(EntryPath(*state_, name), destination, progress)) return false;
    if (placed) *placed = FileStampOf(destination);
    return true;
}

bool OpenFolder::CopyOverwrite(const ByteString& name, const ByteString& destination, CopyProgress* progress) const {
    return StillHeld(state_.get()) && ::CopyOverwrite(EntryPath(*state_, name), destination, progress);
}

bool OpenFolder::RemoveFile(const ByteString& name) const {
    return StillHeld(state_.get()) && ::RemoveFile(EntryPath(*state_, name));
}

bool OpenFolder::MoveNoOverwrite(const ByteString& name, const OpenFolder& to, const ByteString& toName,
                                 CopyProgress* progress) const {
    if (!StillHeld(state_.get()) || !StillHeld(to.state_.get())) return false;
    return ::MoveNoOverwrite(EntryPath(*state_, name), EntryPath(*to.state_, toName), progress);
}
