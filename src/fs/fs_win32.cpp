// The file layer on Windows.  Everything goes through the wide-character
// APIs: a code page 932 path is converted strictly to UTF-16 (a path that has
// no such form, or that would not convert back to the same bytes, makes the
// operation fail), and a path too long for the classic 260-character limit is
// normalised and given the "\\?\" prefix, so it behaves exactly like a short
// one.
#include <windows.h>

#include <algorithm>
#include <climits>
#include <ctime>
#include <functional>
#include <string>

#include "fs/fs.h"
#include "fs/fs_testing.h"
#include "fs/fs_win32.h"
#include "fs/fs_win32_testing.h"
#include "fs/local_time.h"
#include "text/cp932_scan.h"
#include "text/text_win32.h"

// A user's disk quota is used up (not in every SDK's headers).
#ifndef ERROR_DISK_QUOTA_EXCEEDED
#define ERROR_DISK_QUOTA_EXCEEDED 1295L
#endif

const char kPathSeparator = '\\';

namespace {

// Whole-file reads and writes move data in blocks of this size.
constexpr DWORD kBlockSize = 64 * 1024;

// From this length on, a path may hit the classic limits (248 characters for
// a folder, 260 for a file) and is handed over in its long form.
constexpr size_t kLongPathFrom = 248;

// Bytes left before every write of an open file comes up short; -1: off.
int64_t g_shortWriteAfter = -1;

std::function<void()> g_beforeSourceRemoval;

// ---------------------------------------------------------------- paths

bool IsSlash(wchar_t c) { return c == L'\\' || c == L'/'; }

bool StartsWith(const std::wstring& text, const wchar_t* prefix) { return text.rfind(prefix, 0) == 0; }

// "\\?\" and "\\.\" paths bypass the normalisation of Win32 paths.
bool IsDevicePath(const std::wstring& path) { return StartsWith(path, L"\\\\?\\") || StartsWith(path, L"\\\\.\\"); }

// "C:\..." or "\\server\...": the same wherever the current folder is.
bool IsFullyQualified(const std::wstring& path) {
    const bool drive = path.size() >= 3 && path[1] == L':' && IsSlash(path[2]);
    const bool unc = path.size() >= 2 && IsSlash(path[0]) && IsSlash(path[1]);
    return drive || unc;
}


// The folder part of a native path, its last separator included; empty when
// it has none.
std::wstring FolderPartOf(const std::wstring& path) {
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

bool HasWildcard(const std::wstring& native) {
    const size_t from = IsDevicePath(native) ? 4 : 0;
    return native.find_first_of(L"*?", from) != std::wstring::npos;
}

// ---------------------------------------------------------------- handles

class Handle {
public:
    explicit Handle(HANDLE handle = INVALID_HANDLE_VALUE) : handle_(handle) {}
    ~Handle() { Close(); }
    Handle(Handle&& other) noexcept : handle_(other.handle_) { other.handle_ = INVALID_HANDLE_VALUE; }
    Handle& operator=(Handle&& other) noexcept {
        if (this != &other) {
            Close();
            handle_ = other.handle_;
            other.handle_ = INVALID_HANDLE_VALUE;
        }
        return *this;
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;

    bool valid() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
    HANDLE get() const { return handle_; }
    // False when the platform reports a failure of the close.
    bool Close() {
        if (!valid()) return true;
        const HANDLE handle = handle_;
        handle_ = INVALID_HANDLE_VALUE;
        return CloseHandle(handle) != 0;
    }

private:
    HANDLE handle_;
};

// Walks a folder listing, "." and ".." left out.
class FolderScan {
public:
    explicit FolderScan(const std::wstring& folder) {
        std::wstring pattern = folder;
        if (!pattern.empty() && !IsSlash(pattern.back())) pattern += L'\\';
        pattern += L'*';
        find_ = FindFirstFileExW(LongPathForm(pattern).c_str(), FindExInfoBasic, &data_, FindExSearchNameMatch,
                                 nullptr, FIND_FIRST_EX_LARGE_FETCH);
        // An empty drive root lists nothing at all, not even ".".
        const bool emptyRoot = find_ == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_NOT_FOUND &&
                               IsFolder(LongPathForm(folder));
        started_ = find_ != INVALID_HANDLE_VALUE || emptyRoot;
        pending_ = find_ != INVALID_HANDLE_VALUE;
    }
    ~FolderScan() {
        if (find_ != INVALID_HANDLE_VALUE) FindClose(find_);
    }
    FolderScan(const FolderScan&) = delete;
    FolderScan& operator=(const FolderScan&) = delete;

    bool started() const { return started_; }

    // The next entry, or nullptr at the end of the listing.
    const WIN32_FIND_DATAW* Next() {
        while (pending_) {
            current_ = data_;
            pending_ = FindNextFileW(find_, &data_) != 0;
            if (!IsDotOrDotDot(current_.cFileName)) return &current_;
        }
        return nullptr;
    }

private:
    static bool IsDotOrDotDot(const wchar_t* name) { return wcscmp(name, L".") == 0 || wcscmp(name, L"..") == 0; }
    static bool IsFolder(const std::wstring& native) {
        const DWORD attributes = GetFileAttributesW(native.c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    }

    HANDLE find_ = INVALID_HANDLE_VALUE;
    WIN32_FIND_DATAW data_{};
    WIN32_FIND_DATAW current_{};
    bool started_ = false;
    bool pending_ = false;
};

// The paths the walk builds for the entries of one folder: the folder, "\"
// and the entry's name.  Win32 paths drop a trailing "." or blank from a name
// and read CON, NUL, COM1 and the like as devices, so an entry named so (made
// through "\\?\" or by another system) would be reached under another file's
// name, or not at all.
class EntryPaths {
public:
    explicit EntryPaths(const std::wstring& folder)
        : prefix_(folder + L'\\'), fullPrefix_(FullPathOf(prefix_)), verbatim_(IsDevicePath(folder)) {}

    // Whether the path built for `name` leads to that very entry.
    bool Reach(const std::wstring& name) const {
        return verbatim_ || (!fullPrefix_.empty() && FullPathOf(prefix_ + name) == fullPrefix_ + name);
    }

private:
    std::wstring prefix_;
    std::wstring fullPrefix_;
    bool verbatim_;  // "\\?\" paths are taken as they are
};

// Opens a file for exclusive use: nobody else may read or write it meanwhile.
Handle OpenExclusive(const std::wstring& native, DWORD access, DWORD disposition) {
    return Handle(CreateFileW(native.c_str(), access, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// Opens a file shared with other readers (and, with share, writers): a backup
// tool or a viewer that has the settings or a log open never disturbs the
// program, nor the program them.
Handle OpenShared(const std::wstring& native, DWORD access, DWORD share, DWORD disposition) {
    return Handle(CreateFileW(native.c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// Opens anything, files and folders, only to ask about it.  Asking needs no
// access to the content, so this works on a file that another program holds
// for exclusive use.
Handle OpenForQuery(const std::wstring& native, bool followLinks) {
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (followLinks ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
    return Handle(CreateFileW(native.c_str(), 0, share, nullptr, OPEN_EXISTING, flags, nullptr));
}

// ---------------------------------------------------------------- errors

FileErrorCause CauseOf(DWORD error) {
    switch (error) {
    case ERROR_SUCCESS: return FileErrorCause::None;
    case ERROR_FILE_NOT_FOUND: return FileErrorCause::FileNotFound;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_INVALID_DRIVE:
    case ERROR_FILENAME_EXCED_RANGE: return FileErrorCause::BadPath;
    case ERROR_TOO_MANY_OPEN_FILES: return FileErrorCause::TooManyOpenFiles;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT: return FileErrorCause::AccessDenied;
    case ERROR_INVALID_HANDLE: return FileErrorCause::InvalidFile;
    case ERROR_CURRENT_DIRECTORY: return FileErrorCause::RemoveCurrentDir;
    case ERROR_CANNOT_MAKE: return FileErrorCause::DirectoryFull;
    case ERROR_NEGATIVE_SEEK:
    case ERROR_SEEK:
    case ERROR_SEEK_ON_DEVICE: return FileErrorCause::BadSeek;
    case ERROR_CRC:
    case ERROR_READ_FAULT:
    case ERROR_WRITE_FAULT:
    case ERROR_SECTOR_NOT_FOUND:
    case ERROR_GEN_FAILURE:
    case ERROR_IO_DEVICE:
    case ERROR_NOT_READY:
    case ERROR_BAD_UNIT:
    case ERROR_BAD_COMMAND:
    case ERROR_BAD_LENGTH: return FileErrorCause::HardIO;
    case ERROR_SHARING_VIOLATION:
    case ERROR_SHARING_BUFFER_EXCEEDED: return FileErrorCause::SharingViolation;
    case ERROR_LOCK_VIOLATION: return FileErrorCause::LockViolation;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
    case ERROR_DISK_QUOTA_EXCEEDED: return FileErrorCause::DiskFull;
    case ERROR_HANDLE_EOF: return FileErrorCause::EndOfFile;
    default: return FileErrorCause::Generic;
    }
}

[[noreturn]] void ThrowLastError(FileStep step, const ByteString& path) {
    throw FileError(CauseOf(GetLastError()), step, path);
}

// ---------------------------------------------------------------- open files

// Writes every byte; false with the cause when a write fails, or stores fewer
// bytes than asked, which is a full disk.
bool TryWriteAll(HANDLE file, const char* data, size_t size, FileErrorCause& cause) {
    while (size > 0) {
        const DWORD asked = static_cast<DWORD>(std::min<size_t>(size, kBlockSize));
        DWORD allowed = asked;
        if (g_shortWriteAfter >= 0) allowed = static_cast<DWORD>(std::min<int64_t>(asked, g_shortWriteAfter));
        DWORD written = 0;
        if (allowed > 0 && !WriteFile(file, data, allowed, &written, nullptr)) {
            cause = CauseOf(GetLastError());
            return false;
        }
        if (g_shortWriteAfter >= 0) g_shortWriteAfter -= written;
        if (written < asked) {
            cause = FileErrorCause::DiskFull;
            return false;
        }
        data += written;
        size -= written;
    }
    return true;
}

void WriteAll(HANDLE file, const ByteString& text, const ByteString& path) {
    FileErrorCause cause = FileErrorCause::None;
    if (!TryWriteAll(file, text.data(), text.size(), cause)) throw FileError(cause, FileStep::Write, path);
}

void CloseOrThrow(Handle& file, const ByteString& path) {
    if (!file.Close()) ThrowLastError(FileStep::Close, path);
}

void SeekOrThrow(HANDLE file, DWORD from, const ByteString& path) {
    LARGE_INTEGER zero{};
    if (!SetFilePointerEx(file, zero, nullptr, from)) ThrowLastError(FileStep::Seek, path);
}

// ---------------------------------------------------------------- queries

DWORD AttributesOf(const std::wstring& native) { return GetFileAttributesW(native.c_str()); }

bool IsReadOnlyFile(DWORD attributes) {
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY) &&
           (attributes & FILE_ATTRIBUTE_READONLY);
}

// Like the runtime's permission change to read and write: only the read-only
// mark goes, every other attribute stays.
void ClearReadOnly(const std::wstring& native, DWORD attributes) {
    if (!IsReadOnlyFile(attributes)) return;
    const DWORD rest = attributes & ~FILE_ATTRIBUTE_READONLY;
    SetFileAttributesW(native.c_str(), rest == 0 ? FILE_ATTRIBUTE_NORMAL : rest);
}

// Only name surrogates (symbolic links, junctions, mount points) name another
// file or folder; every other reparse point (a file kept by a cloud-sync
// client, a deduplicated file) is an ordinary file or folder.
bool IsLinkTag(DWORD tag) { return IsReparseTagNameSurrogate(tag); }

// The reparse tag of a file that is marked as a reparse point.
DWORD ReparseTagOf(const std::wstring& native);

// Whether attributes read by path mark a link.
bool IsLinkByAttributes(DWORD attributes, const std::wstring& native) {
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
           IsLinkTag(ReparseTagOf(native));
}

std::optional<FileId> IdOf(const std::wstring& native, bool followLinks) {
    const Handle handle = OpenForQuery(native, followLinks);
    BY_HANDLE_FILE_INFORMATION info;
    if (!handle.valid() || !GetFileInformationByHandle(handle.get(), &info)) return std::nullopt;
    return FileId{info.dwVolumeSerialNumber, (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
}

// What a link that is not marked as a folder leads to: a dangling link, or
// one that ends at a device, is special and never opened for its content.
EntryKind KindBehindFileLink(const std::wstring& native) {
    const Handle target = OpenForQuery(native, true);
    if (!target.valid() || GetFileType(target.get()) != FILE_TYPE_DISK) return EntryKind::Special;
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(target.get(), &info)) return EntryKind::Special;
    return (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? EntryKind::FolderLink : EntryKind::File;
}

DWORD ReparseTagOf(const std::wstring& native) {
    const Handle handle = OpenForQuery(native, false);
    FILE_ATTRIBUTE_TAG_INFO info{};
    if (!handle.valid() || !GetFileInformationByHandleEx(handle.get(), FileAttributeTagInfo, &info, sizeof info))
        return IO_REPARSE_TAG_SYMLINK;  // unknown: taken as a link, never followed
    return info.ReparseTag;
}

// `native` is only opened for a link, to see where it leads (and, without a
// tag from a listing, to read the tag).
EntryKind KindOfAttributes(DWORD attributes, const std::wstring& native, std::optional<DWORD> tag = std::nullopt) {
    if (attributes == INVALID_FILE_ATTRIBUTES) return EntryKind::Missing;
    const bool link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) && IsLinkTag(tag ? *tag : ReparseTagOf(native));
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return link ? EntryKind::FolderLink : EntryKind::Folder;
    if (attributes & FILE_ATTRIBUTE_DEVICE) return EntryKind::Special;
    return link ? KindBehindFileLink(native) : EntryKind::File;
}

// ---------------------------------------------------------------- temporary files

// A name for a file beside another that nobody else uses: the process id, a
// counter and the clock.
std::wstring FreshTempName() {
    static unsigned counter = 0;
    return L".tessarbolink-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++counter) + L"-" +
           std::to_wstring(GetTickCount64()) + L".tmp";
}

std::wstring TempPathBeside(const std::wstring& target) { return LongPathForm(FolderPartOf(target) + FreshTempName()); }

bool IsNameTaken(DWORD error) { return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS; }

// Removes a temporary file, also when the copy made it read-only.
void RemoveTemp(const std::wstring& tempPath) {
    ClearReadOnly(tempPath, AttributesOf(tempPath));
    DeleteFileW(tempPath.c_str());
}

// A new, empty file beside `target`, open for exclusive writing; not valid
// when its folder takes no new file.
Handle CreateTempBeside(const std::wstring& target, std::wstring& tempPath) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        tempPath = TempPathBeside(target);
        Handle file = OpenExclusive(tempPath, GENERIC_WRITE, CREATE_NEW);
        if (file.valid() || !IsNameTaken(GetLastError())) return file;
    }
    return Handle();
}

// Copies what is left of an open file into another; false when a read or a
// write fails.
bool CopyContent(HANDLE from, HANDLE to) {
    std::string block(kBlockSize, '\0');
    FileErrorCause cause;
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(from, block.data(), kBlockSize, &got, nullptr)) return false;
        if (got == 0) return true;
        if (!TryWriteAll(to, block.data(), got, cause)) return false;
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
// time and attributes; with flush, the copy is on the disk before it is
// closed.  What the source was when the copy started goes to copied.  False,
// leaving nothing behind, when it fails.  The copy is done here rather than by
// CopyFileW so that every byte goes through the one writer that reports short
// writes.  Nobody may write to the source meanwhile.
bool CopyToTempBeside(const std::wstring& source, const std::wstring& target, std::wstring& tempPath, bool flush,
                      BY_HANDLE_FILE_INFORMATION& info) {
    const Handle from(CreateFileW(source.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!from.valid() || !GetFileInformationByHandle(from.get(), &info)) return false;
    Handle to = CreateTempBeside(target, tempPath);
    if (!to.valid()) return false;
    const bool copied = CopyContent(from.get(), to.get()) &&
                        SetFileTime(to.get(), nullptr, nullptr, &info.ftLastWriteTime) &&
                        (!flush || FlushFileBuffers(to.get())) && to.Close();
    if (!copied) {
        to.Close();
        RemoveTemp(tempPath);
        return false;
    }
    // A new file is marked for backup already; only other marks need a call.
    const DWORD marks = CopiedAttributes(info.dwFileAttributes);
    if (marks != FILE_ATTRIBUTE_ARCHIVE) SetFileAttributesW(tempPath.c_str(), marks);
    return true;
}

// The file a link leads to, so that it is the target that gets replaced and
// the link stays; the path itself when it is no link.
std::wstring ThroughLink(const std::wstring& native) {
    if (!IsLinkByAttributes(AttributesOf(native), native)) return native;
    const Handle target = OpenForQuery(native, true);
    if (!target.valid()) return native;
    std::wstring final(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetFinalPathNameByHandleW(target.get(), final.data(), static_cast<DWORD>(final.size()),
                                                       FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (length == 0) return native;
        if (length < final.size()) {
            final.resize(length);
            return final;
        }
        final.resize(length + 1);
    }
}

// Puts a finished temporary file in the place of `target`.  A read-only mark
// on the old file does not stop it (the new file is not read-only); hidden
// and system marks carry over.
bool ReplaceWithTemp(const std::wstring& tempPath, const std::wstring& target) {
    const DWORD old = AttributesOf(target);
    ClearReadOnly(target, old);
    if (!MoveFileExW(tempPath.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        if (IsReadOnlyFile(old)) SetFileAttributesW(target.c_str(), old);
        return false;
    }
    if (old != INVALID_FILE_ATTRIBUTES) {
        const DWORD marks = old & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
        if (marks != 0) SetFileAttributesW(target.c_str(), AttributesOf(target) | marks);
    }
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

// Moves a file to another volume: a copy beside the destination, flushed to
// the disk, published under its name only while that is free, then the
// source deleted, only if it is still the very file that was copied,
// unchanged.  When the source cannot or must not go, the copy is taken back,
// so a failed move leaves one file where it was.  Links are not carried
// across (a copy would turn one into a second file).
bool MoveAcrossVolumes(const std::wstring& from, const std::wstring& to, DWORD attributes) {
    if (IsLinkByAttributes(attributes, from)) return false;
    std::wstring temp;
    BY_HANDLE_FILE_INFORMATION copied;
    if (!CopyToTempBeside(from, to, temp, true, copied)) return false;
    if (!MoveFileExW(temp.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH)) {
        RemoveTemp(temp);
        return false;
    }
    const std::optional<FileId> published = IdOf(to, false);
    if (g_beforeSourceRemoval) g_beforeSourceRemoval();
    if (StillTheCopiedFile(from, copied) && DeleteEvenIfReadOnly(from, attributes)) return true;
    if (published && IdOf(to, false) == published) RemoveTemp(to);
    return false;
}

// ---------------------------------------------------------------- time

// The last moment the runtime converts: 3000-12-31 23:59:59 UTC.
constexpr int64_t kLatestRuntimeTime = 32535215999LL;

bool LocalTimeOf(int64_t seconds, std::tm& local) {
    if (seconds < 0 || seconds > kLatestRuntimeTime) return false;
    const __time64_t time = seconds;
    return _localtime64_s(&local, &time) == 0;
}

}  // namespace

// ---------------------------------------------------------------- fs_win32.h

std::wstring FullPathOf(const std::wstring& path) {
    std::wstring full(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
        if (length == 0) return std::wstring();
        if (length < full.size()) {
            full.resize(length);
            return full;
        }
        full.resize(length);  // too small: `length` now counts the terminator
    }
}

std::wstring LongPathForm(const std::wstring& path) {
    if (IsDevicePath(path)) return path;
    if (path.size() < kLongPathFrom && IsFullyQualified(path)) return path;
    const std::wstring full = FullPathOf(path);
    if (full.size() < kLongPathFrom) return path;
    if (IsDevicePath(full)) return full;
    if (StartsWith(full, L"\\\\")) return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

// The UTF-16 form of a path as written; false when it has none or holds a
// NUL byte, which would cut it short and name another file.
static bool WidePathOf(const ByteString& path, std::wstring& wide) {
    return Cp932ToWide(path, wide) && wide.find(L'\0') == std::wstring::npos;
}

bool NativePathOf(const ByteString& path, std::wstring& native) {
    std::wstring wide;
    if (!WidePathOf(path, wide)) return false;
    native = LongPathForm(wide);
    return true;
}

// ---------------------------------------------------------------- fs.h

int FileExists(const ByteString& path) {
    std::wstring native;
    if (!NativePathOf(path, native) || native.empty() || HasWildcard(native)) return 0;
    WIN32_FIND_DATAW data;
    const HANDLE find = FindFirstFileW(native.c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        FindClose(find);
        return 1;
    }
    // "File not found": the folder was read and holds no such name, the
    // answer of nearly every check before a move.  Only a path that ends in
    // a separator (a drive root among them) is never found by a listing and
    // may exist all the same; other failures are asked once more.
    if (GetLastError() == ERROR_FILE_NOT_FOUND && !IsSlash(native.back())) return 0;
    return AttributesOf(native) != INVALID_FILE_ATTRIBUTES ? 1 : 0;
}

int MoveNoOverwrite(const ByteString& source, const ByteString& destination) {
    std::wstring from, to;
    if (!NativePathOf(source, from) || !NativePathOf(destination, to)) return 0;
    const DWORD attributes = AttributesOf(from);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return 0;
    if (FileExists(destination)) return 0;
    // Without MOVEFILE_REPLACE_EXISTING the platform itself refuses to
    // replace a file, also one that appeared since the check.
    if (MoveFileExW(from.c_str(), to.c_str(), 0)) return 1;
    if (GetLastError() != ERROR_NOT_SAME_DEVICE) return 0;
    // Not MOVEFILE_COPY_ALLOWED: when the source cannot be deleted after the
    // copy, it reports success and leaves the file twice.
    return MoveAcrossVolumes(from, to, attributes) ? 1 : 0;
}

int CopyOverwrite(const ByteString& source, const ByteString& destination) {
    std::wstring from, to;
    if (!NativePathOf(source, from) || !NativePathOf(destination, to)) return 0;
    if (KindOfAttributes(AttributesOf(from), from) != EntryKind::File) return 0;
    const DWORD existing = AttributesOf(to);
    if (existing != INVALID_FILE_ATTRIBUTES) {
        if (existing & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) return 0;
        // A copy onto the file itself would destroy it.  When either identity
        // cannot be read, nothing proves they differ.
        const auto sourceId = IdOf(from, true);
        const auto destinationId = IdOf(to, true);
        if (!sourceId || !destinationId || *sourceId == *destinationId) return 0;
    }
    // The copy is made beside the destination and takes its place only when
    // complete, so a copy that fails part-way leaves the old one as it was.
    // One that replaces a file is flushed first: the old file is gone once
    // the new one takes its place.
    std::wstring temp;
    BY_HANDLE_FILE_INFORMATION copied;
    if (!CopyToTempBeside(from, to, temp, existing != INVALID_FILE_ATTRIBUTES, copied)) return 0;
    if (MoveFileExW(temp.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) return 1;
    RemoveTemp(temp);
    return 0;
}

int RemoveFile(const ByteString& path) {
    std::wstring native;
    return NativePathOf(path, native) && DeleteFileW(native.c_str()) ? 1 : 0;
}

std::optional<int64_t> FileSizeOf(const ByteString& path) {
    std::wstring native;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!NativePathOf(path, native) || !GetFileAttributesExW(native.c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return std::nullopt;
    const bool fileLink = IsLinkByAttributes(data.dwFileAttributes, native);
    if (!fileLink) return static_cast<int64_t>((uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow);
    // A link's own size says nothing about the file it leads to.
    const Handle target = OpenForQuery(native, true);
    LARGE_INTEGER size;
    if (!target.valid() || !GetFileSizeEx(target.get(), &size)) return std::nullopt;
    return size.QuadPart;
}

int CreateFolder(const ByteString& path) {
    std::wstring native;
    return NativePathOf(path, native) && CreateDirectoryW(native.c_str(), nullptr) ? 1 : 0;
}

int RemoveFolder(const ByteString& path) {
    std::wstring native;
    return NativePathOf(path, native) && RemoveDirectoryW(native.c_str()) ? 1 : 0;
}

ByteString ReadTextFile(const ByteString& path) {
    std::wstring native;
    if (!NativePathOf(path, native)) return ByteString();
    Handle file = OpenShared(native, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
    if (!file.valid()) return ByteString();
    ByteString content;
    for (;;) {
        const size_t at = content.size();
        content.resize(at + kBlockSize);
        DWORD got = 0;
        if (!ReadFile(file.get(), content.data() + at, kBlockSize, &got, nullptr)) ThrowLastError(FileStep::Read, path);
        content.resize(at + got);
        if (got == 0) break;
    }
    CloseOrThrow(file, path);
    return content;
}

int WriteTextFile(const ByteString& path, const ByteString& text) {
    std::wstring native;
    if (!NativePathOf(path, native)) return 0;
    ClearReadOnly(native, AttributesOf(native));
    // OPEN_ALWAYS opens the existing file or creates it in one step.
    Handle file = OpenExclusive(native, GENERIC_WRITE, OPEN_ALWAYS);
    if (!file.valid()) return 0;
    SeekOrThrow(file.get(), FILE_BEGIN, path);
    if (!SetEndOfFile(file.get())) ThrowLastError(FileStep::Truncate, path);
    WriteAll(file.get(), text, path);
    CloseOrThrow(file, path);
    return 1;
}

int WriteTextFileSafely(const ByteString& path, const ByteString& text) {
    std::wstring native;
    if (!NativePathOf(path, native)) return 0;
    const std::wstring target = ThroughLink(native);
    std::wstring temp;
    Handle file = CreateTempBeside(target, temp);
    if (!file.valid()) return WriteTextFile(path, text);
    try {
        WriteAll(file.get(), text, path);
        if (!FlushFileBuffers(file.get())) ThrowLastError(FileStep::Write, path);
        CloseOrThrow(file, path);
    } catch (...) {
        file.Close();
        RemoveTemp(temp);
        throw;
    }
    if (ReplaceWithTemp(temp, target)) return 1;
    // The old file cannot be replaced (a folder, a file another program
    // holds, a folder that allows writing but no renaming): write in place,
    // which reports what stops it.
    RemoveTemp(temp);
    return WriteTextFile(path, text);
}

int AppendTextToFile(const ByteString& path, const ByteString& text) {
    std::wstring native;
    if (!NativePathOf(path, native)) return 0;
    // Checked here, not left to the open: an administrator may open a
    // read-only file for writing on some systems.
    if (IsReadOnlyFile(AttributesOf(native))) return 0;
    // OPEN_ALWAYS never truncates: an existing log is only ever added to.
    Handle file = OpenShared(native, GENERIC_WRITE, FILE_SHARE_READ, OPEN_ALWAYS);
    if (!file.valid()) return 0;
    SeekOrThrow(file.get(), FILE_END, path);
    WriteAll(file.get(), text, path);
    CloseOrThrow(file, path);
    return 1;
}

std::wstring ExecutablePathWide() {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return std::wstring();
        if (length < buffer.size()) {
            buffer.resize(length);
            return buffer;
        }
        if (buffer.size() > 65536) return std::wstring();
        buffer.resize(buffer.size() * 2);
    }
}

ByteString ExecutablePath() {
    ByteString path;
    return WideToCp932(ExecutablePathWide(), path) ? path : ByteString();
}

EntryKind KindOf(const ByteString& path) {
    std::wstring native;
    if (!NativePathOf(path, native)) return EntryKind::Missing;
    return KindOfAttributes(AttributesOf(native), native);
}

bool ListFolder(const ByteString& folder, std::vector<FolderEntry>& entries) {
    entries.clear();
    std::wstring wideFolder;
    if (!WidePathOf(folder, wideFolder)) return false;
    FolderScan scan(wideFolder);
    if (!scan.started()) return false;
    const std::wstring prefix = (wideFolder.empty() || IsSlash(wideFolder.back())) ? wideFolder : wideFolder + L'\\';
    const EntryPaths paths(wideFolder);
    while (const WIN32_FIND_DATAW* found = scan.Next()) {
        const std::wstring name = found->cFileName;
        FolderEntry entry;
        const bool hasCp932Form = WideToCp932(name, entry.name);
        if (!hasCp932Form) entry.name = WideToCp932Shown(name);
        entry.convertible = hasCp932Form && paths.Reach(name);
        // For a reparse point the listing gives its tag as well.
        entry.kind = KindOfAttributes(found->dwFileAttributes, LongPathForm(prefix + name), found->dwReserved0);
        entries.push_back(std::move(entry));
    }
    return true;
}

int FolderIsEmpty(const ByteString& folder) {
    std::wstring wideFolder;
    if (!WidePathOf(folder, wideFolder)) return -1;
    FolderScan scan(wideFolder);
    if (!scan.started()) return -1;
    return scan.Next() == nullptr ? 1 : 0;
}

std::optional<FileId> FileIdOf(const ByteString& path) {
    std::wstring native;
    if (!NativePathOf(path, native)) return std::nullopt;
    return IdOf(native, true);
}

std::optional<FileStamp> FileStampOf(const ByteString& path) {
    std::wstring native;
    if (!NativePathOf(path, native)) return std::nullopt;
    const Handle handle = OpenForQuery(native, false);
    BY_HANDLE_FILE_INFORMATION info;
    if (!handle.valid() || !GetFileInformationByHandle(handle.get(), &info)) return std::nullopt;
    return FileStamp{FileId{info.dwVolumeSerialNumber, (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow},
                     static_cast<int64_t>((uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow),
                     static_cast<int64_t>((uint64_t{info.ftLastWriteTime.dwHighDateTime} << 32) |
                                          info.ftLastWriteTime.dwLowDateTime)};
}

// ---------------------------------------------------------------- files added to record by record

struct AppendFile::State {
    Handle handle;
};

AppendFile::AppendFile() = default;
AppendFile::AppendFile(std::unique_ptr<State> state) : state_(std::move(state)) {}
AppendFile::~AppendFile() = default;
AppendFile::AppendFile(AppendFile&& other) noexcept = default;
AppendFile& AppendFile::operator=(AppendFile&& other) noexcept = default;

AppendFile AppendFile::Replace(const ByteString& path) {
    std::wstring native;
    if (!NativePathOf(path, native)) return AppendFile();
    // Readers may look at it meanwhile; CREATE_ALWAYS empties an existing file.
    Handle file(CreateFileW(native.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return AppendFile();
    auto state = std::make_unique<State>();
    state->handle = std::move(file);
    return AppendFile(std::move(state));
}

bool AppendFile::IsOpen() const { return state_ && state_->handle.valid(); }

bool AppendFile::Append(const ByteString& bytes) {
    FileErrorCause cause;
    return IsOpen() && TryWriteAll(state_->handle.get(), bytes.data(), bytes.size(), cause);
}

int64_t CurrentTimeSeconds() { return _time64(nullptr); }

LocalDateTime ToLocalDateTime(int64_t secondsSince1970) {
    // The runtime covers 1970 to 3000 only.
    return LocalDateTimeThrough(LocalTimeOf, secondsSince1970);
}

// ---------------------------------------------------------------- open folders

// The folder's path serves for its entries: its handle, held without delete
// sharing, keeps the folder from being renamed or deleted meanwhile, so the
// path goes on naming this very folder.  Where the system does not enforce
// that for folders (Wine), each use checks that the path still names it.
struct OpenFolder::State {
    Handle handle;
    ByteString path;
    FileId id;
    DWORD error = ERROR_SUCCESS;  // why the open failed
};

OpenFolder::OpenFolder() = default;
OpenFolder::OpenFolder(std::unique_ptr<State> state) : state_(std::move(state)) {}
OpenFolder::~OpenFolder() = default;
OpenFolder::OpenFolder(OpenFolder&& other) noexcept = default;
OpenFolder& OpenFolder::operator=(OpenFolder&& other) noexcept = default;

namespace {

// Opens a folder and holds it; through a final link only when followLink.
std::unique_ptr<OpenFolder::State> HoldFolder(const ByteString& path, bool followLink) {
    auto state = std::make_unique<OpenFolder::State>();
    state->path = path;
    std::wstring native;
    if (!NativePathOf(path, native)) {
        state->error = ERROR_INVALID_NAME;
        return state;
    }
    const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (followLink ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
    state->handle = Handle(CreateFileW(native.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                       nullptr, OPEN_EXISTING, flags, nullptr));
    if (!state->handle.valid()) {
        state->error = GetLastError();
        return state;
    }
    BY_HANDLE_FILE_INFORMATION info;
    FILE_ATTRIBUTE_TAG_INFO tag{};
    const bool folder = GetFileInformationByHandle(state->handle.get(), &info) &&
                        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    // Not followed: a name-surrogate reparse point is a link, never walked.
    const bool link = !followLink && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
                      (!GetFileInformationByHandleEx(state->handle.get(), FileAttributeTagInfo, &tag, sizeof tag) ||
                       IsLinkTag(tag.ReparseTag));
    if (!folder || link) {
        state->handle.Close();
        state->error = ERROR_DIRECTORY;
        return state;
    }
    state->id = FileId{info.dwVolumeSerialNumber, (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
    return state;
}

// Whether the folder is open and its path still names it.
bool StillHeld(const OpenFolder::State* folder) {
    if (!folder || !folder->handle.valid()) return false;
    std::wstring native;
    return NativePathOf(folder->path, native) && IdOf(native, false) == folder->id;
}

ByteString EntryPath(const OpenFolder::State& folder, const ByteString& name) {
    ByteString path = folder.path;
    if (!path.empty() && !EndsWithCharacter(path, '\\') && !EndsWithCharacter(path, '/')) path += kPathSeparator;
    return path + name;
}

}  // namespace

OpenFolder OpenFolder::Open(const ByteString& path) { return OpenFolder(HoldFolder(path, true)); }

OpenFolder OpenFolder::OpenChild(const FolderEntry& entry) const {
    if (!IsOpen() || !entry.convertible) {
        auto refused = std::make_unique<State>();
        refused->error = ERROR_INVALID_NAME;
        return OpenFolder(std::move(refused));
    }
    return OpenFolder(HoldFolder(EntryPath(*state_, entry.name), false));
}

bool OpenFolder::IsOpen() const { return state_ && state_->handle.valid(); }

bool OpenFolder::Vanished() const {
    return state_ && !state_->handle.valid() &&
           (state_->error == ERROR_FILE_NOT_FOUND || state_->error == ERROR_PATH_NOT_FOUND);
}

FileId OpenFolder::Id() const { return state_ ? state_->id : FileId{}; }

bool OpenFolder::List(std::vector<FolderEntry>& entries) const {
    entries.clear();
    return StillHeld(state_.get()) && ListFolder(state_->path, entries);
}

int OpenFolder::IsEmpty() const { return StillHeld(state_.get()) ? FolderIsEmpty(state_->path) : -1; }

std::optional<int64_t> OpenFolder::FileSizeOf(const ByteString& name) const {
    if (!StillHeld(state_.get())) return std::nullopt;
    return ::FileSizeOf(EntryPath(*state_, name));
}

int OpenFolder::MoveNoOverwrite(const ByteString& name, const ByteString& destination) const {
    return StillHeld(state_.get()) ? ::MoveNoOverwrite(EntryPath(*state_, name), destination) : 0;
}

int OpenFolder::CopyOverwrite(const ByteString& name, const ByteString& destination) const {
    return StillHeld(state_.get()) ? ::CopyOverwrite(EntryPath(*state_, name), destination) : 0;
}

int OpenFolder::RemoveFile(const ByteString& name) const {
    return StillHeld(state_.get()) ? ::RemoveFile(EntryPath(*state_, name)) : 0;
}

int OpenFolder::RemoveFolder(const ByteString& name, const FileId& id) const {
    if (!StillHeld(state_.get())) return 0;
    const ByteString path = EntryPath(*state_, name);
    std::wstring native;
    if (!NativePathOf(path, native) || IdOf(native, false) != id) return 0;
    return ::RemoveFolder(path);
}

std::optional<FileStamp> OpenFolder::StampOf(const ByteString& name) const {
    if (!IsOpen()) return std::nullopt;
    return ::FileStampOf(EntryPath(*state_, name));
}

int OpenFolder::CreateFolder(const ByteString& name) const {
    return IsOpen() ? ::CreateFolder(EntryPath(*state_, name)) : 0;
}

int OpenFolder::MoveNoOverwrite(const ByteString& name, const OpenFolder& to, const ByteString& toName) const {
    if (!IsOpen() || !to.IsOpen()) return 0;
    return ::MoveNoOverwrite(EntryPath(*state_, name), EntryPath(*to.state_, toName));
}

void SetShortWriteAfterForTesting(int64_t bytes) { g_shortWriteAfter = bytes < 0 ? -1 : bytes; }

void SetBeforeSourceRemovalHookForTesting(std::function<void()> hook) { g_beforeSourceRemoval = std::move(hook); }

EntryKind KindOfListedEntryForTesting(DWORD attributes, DWORD reparseTag) {
    return KindOfAttributes(attributes, std::wstring(), reparseTag);
}

FileErrorCause FileErrorCauseForTesting(DWORD error) { return CauseOf(error); }

// ---------------------------------------------------------------- where the program keeps its files

int CanCreateFileIn(const ByteString& folder) {
    if (folder.empty()) return 0;
    // A name of this process and moment; the file goes when it is closed, so
    // it is never left behind, and one that could not be removed is never made.
    const ByteString name = "Tessarbolink-" + std::to_string(GetCurrentProcessId()) + "-" +
                            std::to_string(GetTickCount64()) + ".tmp";
    std::wstring native;
    if (!NativePathOf(folder + name, native)) return 0;
    const HANDLE probe = CreateFileW(native.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                     FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE,
                                     nullptr);
    if (probe == INVALID_HANDLE_VALUE) return 0;
    CloseHandle(probe);
    return 1;
}

ByteString UserDataFolder() {
    std::wstring base(32768, L'\0');
    const DWORD length = GetEnvironmentVariableW(L"LOCALAPPDATA", base.data(), static_cast<DWORD>(base.size()));
    if (length == 0 || length >= base.size()) return ByteString();
    base.resize(length);
    if (!IsFullyQualified(base)) return ByteString();
    while (base.size() > 3 && IsSlash(base.back())) base.pop_back();
    if (!IsSlash(base.back())) base += L'\\';
    ByteString folder;
    if (!WideToCp932(base + L"Tessarbolink", folder)) return ByteString();
    CreateFolderChain(folder);
    if (KindOf(folder) != EntryKind::Folder) return ByteString();
    return folder + kPathSeparator;
}
