// Copying, moving and removing files on Windows.  A copy, and a move to
// another volume, fill a new file beside the destination, which takes the
// destination's name through its own handle only when complete, so a failure
// never leaves a file half-written.  Everything after the new file's creation
// goes through its handle (a file server gets no request by path for it), and
// the source of a move is held from its first byte read to its removal.
#include <cstring>
#include <vector>

#include "fs/copy_move.h"
#include "fs/copy_progress.h"
#include "fs/fs_marks_win32.h"
#include "fs/fs_seams.h"
#include "fs/fs_win32_internal.h"

using namespace fs_win32;

namespace {

// From this size on, a file is moved to another volume only once its new
// name is known to be free: copying it in vain would cost more than a look.
// Smaller ones find out when the copy is published, which never replaces.
constexpr int64_t kLookFirstFrom = int64_t{1} << 20;

// The attributes a file's basic information may set.
constexpr DWORD kSettableAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                      FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE |
                                      FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

int64_t SizeOf(const BY_HANDLE_FILE_INFORMATION& info) {
    return static_cast<int64_t>((uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow);
}

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

// Sets the attributes of an open file and, when given, its modification time,
// in one call (0 leaves the attributes as they are).
bool SetBasics(HANDLE file, DWORD attributes, const FILETIME* written) {
    FILE_BASIC_INFO basic{};
    basic.FileAttributes = attributes;
    if (written)
        basic.LastWriteTime.QuadPart =
            static_cast<LONGLONG>((uint64_t{written->dwHighDateTime} << 32) | written->dwLowDateTime);
    return SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic) != 0;
}

// Marks an open file (open with DELETE) to be deleted when it is closed, a
// read-only one too (attributes: what it has), as a rename within one volume
// would have moved it all the same; the read-only mark comes back when the
// file cannot go.
bool DeleteWhenClosed(HANDLE file, DWORD attributes) {
    FILE_DISPOSITION_INFO disposition{TRUE};
    if (SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition)) return true;
    const DWORD kept = attributes & kSettableAttributes;
    const DWORD writable = kept & ~FILE_ATTRIBUTE_READONLY;
    if (!(kept & FILE_ATTRIBUTE_READONLY)) return false;
    if (!SetBasics(file, writable != 0 ? writable : FILE_ATTRIBUTE_NORMAL, nullptr)) return false;
    if (SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition)) return true;
    SetBasics(file, kept, nullptr);
    return false;
}

// Gives an open file (open with DELETE) another name on its volume; with
// replace, in the place of a file of that name.  The system reads the name
// as a Win32 path (a bare name would be taken as one in the current folder),
// so the full path goes.
bool RenameOpenFile(HANDLE file, const std::wstring& to, bool replace) {
    const std::wstring full = IsDevicePath(to) || IsFullyQualified(to) ? to : FullPathOf(to);
    if (full.empty()) return false;
    const size_t bytes = full.size() * sizeof(wchar_t);
    std::vector<char> buffer(sizeof(FILE_RENAME_INFO) + bytes);
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->ReplaceIfExists = replace ? TRUE : FALSE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(bytes);
    std::memcpy(rename->FileName, full.c_str(), bytes + sizeof(wchar_t));
    return SetFileInformationByHandle(file, FileRenameInfo, rename, static_cast<DWORD>(buffer.size())) != 0;
}

// A copy filled beside its destination, held open for writing and deleting
// until it is done with, so that it can be named, flushed or taken back
// through its handle.
struct Copy {
    Handle file;
    std::wstring tempPath;
    DWORD attributes = 0;  // the marks it was given
    bool named = false;    // it has the destination's name

    // Gives the copy up, under whatever name it has now.
    void TakeBack() {
        const bool deleted = DeleteWhenClosed(file.get(), attributes);
        (void)file.Close();
        if (!deleted && !named) RemoveTemp(tempPath);
    }
};

// Fills a new file beside `target` with the open source (its path is source)
// and its modification time, attributes, streams and holes; with flush, on
// the disk before this returns.  False, leaving nothing behind, when it
// fails.  Every byte goes through the one writer that reports short writes.
bool FillCopyBeside(HANDLE from, const BY_HANDLE_FILE_INFORMATION& info, const std::wstring& source,
                    const std::wstring& target, bool flush, CopyProgress* progress, Copy& copy) {
    copy.file = CreateTempBeside(target, copy.tempPath, GENERIC_WRITE | DELETE);
    if (!copy.file.valid()) return false;
    CopyPace pace(copy.file.get(), SizeOf(info), progress, flush);
    const int sparse = CopyKeepingHoles(from, copy.file.get(), info, pace);
    // The time last: writing a stream changes it.  A new file is marked for
    // backup already, and the same call gives it the source's other marks.
    const DWORD marks = CopiedAttributes(info.dwFileAttributes);
    bool filled = (sparse < 0 ? CopyContent(from, copy.file.get(), pace) : sparse == 1) &&
                  CopyNamedStreams(source, copy.tempPath) && SetBasics(copy.file.get(), marks, &info.ftLastWriteTime);
    if (filled) copy.attributes = marks;
    filled = filled && (!flush || FlushFileBuffers(copy.file.get()));
    if (!filled) copy.TakeBack();
    return filled;
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

// Whether the open source is still as it was when the copy began: the same
// file, size and modification time.  Nobody may write to it while it is held,
// but a file server may let its own programs do so all the same.  A source
// that was reached through a reparse point must still be what its path names.
bool StillAsCopied(HANDLE source, const BY_HANDLE_FILE_INFORMATION& copied, const std::wstring& path,
                   bool throughReparsePoint) {
    BY_HANDLE_FILE_INFORMATION now;
    const FileId id{copied.dwVolumeSerialNumber, (uint64_t{copied.nFileIndexHigh} << 32) | copied.nFileIndexLow};
    return GetFileInformationByHandle(source, &now) && now.dwVolumeSerialNumber == copied.dwVolumeSerialNumber &&
           now.nFileIndexHigh == copied.nFileIndexHigh && now.nFileIndexLow == copied.nFileIndexLow &&
           SizeOf(now) == SizeOf(copied) && CompareFileTime(&now.ftLastWriteTime, &copied.ftLastWriteTime) == 0 &&
           (!throughReparsePoint || IdOf(path, false) == id);
}

// Moves a file to another volume: a copy beside the destination, flushed to
// the disk, given its name only while that is free and flushed again so that
// the name is on the disk too, then the source deleted.  The source is held
// from the start, shared for reading only and not for deleting, so nobody may
// change, rename or delete it meanwhile; it goes only if it is still as it
// was copied.  When it cannot or must not go, the copy is taken back, so a
// failed move leaves one file where it was.  Links are not carried across (a
// copy would turn one into a second file).
bool MoveAcrossVolumes(const std::wstring& from, const std::wstring& to, DWORD attributes, CopyProgress* progress) {
    if (IsLinkByAttributes(attributes, from)) return false;
    // A reparse point that is no link (a cloud-sync or deduplicated file) is
    // read through, as what it stands for.
    const bool throughReparsePoint = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    // A read-only source has its mark taken off before it is deleted.
    const DWORD access = GENERIC_READ | DELETE | (IsReadOnlyFile(attributes) ? FILE_WRITE_ATTRIBUTES : 0);
    const DWORD flags = FILE_FLAG_SEQUENTIAL_SCAN | (throughReparsePoint ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
    const Handle source(CreateFileW(from.c_str(), access, FILE_SHARE_READ, nullptr, OPEN_EXISTING, flags, nullptr));
    BY_HANDLE_FILE_INFORMATION info;
    if (!source.valid() || !GetFileInformationByHandle(source.get(), &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
        (!throughReparsePoint && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)))  // a link by now
        return false;
    if (SizeOf(info) >= kLookFirstFrom && AttributesOf(to) != INVALID_FILE_ATTRIBUTES) return false;
    Copy copy;
    if (!FillCopyBeside(source.get(), info, from, to, true, progress, copy)) return false;
    fs_seams::BeforePublish();
    copy.named = RenameOpenFile(copy.file.get(), to, false);
    if (!copy.named || !FlushFileBuffers(copy.file.get())) {
        copy.TakeBack();
        return false;
    }
    fs_seams::BeforeSourceRemoval();
    if (!StillAsCopied(source.get(), info, from, throughReparsePoint) ||
        !DeleteWhenClosed(source.get(), info.dwFileAttributes)) {
        copy.TakeBack();
        return false;
    }
    (void)copy.file.Close();  // on the disk already
    return true;
}

}  // namespace

namespace fs_win32 {

bool NeverOneVolume(const std::wstring& from, const std::wstring& to) {
    const bool toServer = to.rfind(L"\\\\?\\UNC\\", 0) == 0 || (to.rfind(L"\\\\", 0) == 0 && !IsDevicePath(to));
    const size_t drive = from.rfind(L"\\\\?\\", 0) == 0 ? 4 : 0;
    if (!toServer || from.size() < drive + 3 || from[drive + 1] != L':' || !IsSlash(from[drive + 2])) return false;
    switch (GetDriveTypeW(from.substr(drive, 3).c_str())) {
    case DRIVE_FIXED:
    case DRIVE_REMOVABLE:
    case DRIVE_CDROM:
    case DRIVE_RAMDISK: return true;
    default: return false;  // a mapped network drive may be the very share
    }
}

}  // namespace fs_win32

bool MoveNoOverwrite(const ByteString& source, const ByteString& destination, CopyProgress* progress) {
    std::wstring from, to;
    if (!NativePathOf(source, from) || !NativePathOf(destination, to)) return false;
    const DWORD attributes = AttributesOf(from);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
    if (NeverOneVolume(from, to)) return MoveAcrossVolumes(from, to, attributes, progress);
    // Checked first within one volume: a name that differs from the source's
    // only in case names the source itself, which a rename would take.
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
    const Handle in(CreateFileW(from.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    BY_HANDLE_FILE_INFORMATION info;
    if (!in.valid() || !GetFileInformationByHandle(in.get(), &info)) return false;
    // The copy is made beside the destination and takes its place only when
    // complete, so a copy that fails part-way leaves the old one as it was.
    // One that replaces a file is flushed first: the old file is gone once
    // the new one takes its place.
    Copy copy;
    if (!FillCopyBeside(in.get(), info, from, to, existing != INVALID_FILE_ATTRIBUTES, progress, copy)) return false;
    copy.named = RenameOpenFile(copy.file.get(), to, true);
    if (!copy.named) {
        copy.TakeBack();
        return false;
    }
    (void)copy.file.Close();  // the system reports no write through a close
    return true;
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
