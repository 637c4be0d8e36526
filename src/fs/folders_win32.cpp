// Files and folders on Windows: what a path names, listings, and folders held
// open while a walk handles their entries.
#include "fs/fs_win32_internal.h"
#include "text/cp932_scan.h"
#include "text/text_win32.h"

using namespace fs_win32;

namespace {

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

// Only name surrogates (symbolic links, junctions, mount points) name another
// file or folder; every other reparse point (a file kept by a cloud-sync
// client, a deduplicated file) is an ordinary file or folder.
bool IsLinkTag(DWORD tag) { return IsReparseTagNameSurrogate(tag); }

// The reparse tag of a file that is marked as a reparse point.
DWORD ReparseTagOf(const std::wstring& native) {
    const Handle handle = OpenForQuery(native, false);
    FILE_ATTRIBUTE_TAG_INFO info{};
    if (!handle.valid() || !GetFileInformationByHandleEx(handle.get(), FileAttributeTagInfo, &info, sizeof info))
        return IO_REPARSE_TAG_SYMLINK;  // unknown: taken as a link, never followed
    return info.ReparseTag;
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

// The whole listing of a folder by its path; false when it cannot start.
bool ListFolderAt(const ByteString& folder, std::vector<FolderEntry>& entries) {
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

// Whether a folder lists no entry; nullopt when it cannot be listed.
std::optional<bool> FolderIsEmptyAt(const ByteString& folder) {
    std::wstring wideFolder;
    if (!WidePathOf(folder, wideFolder)) return std::nullopt;
    FolderScan scan(wideFolder);
    if (!scan.started()) return std::nullopt;
    return scan.Next() == nullptr;
}

}  // namespace

namespace fs_win32 {

// Whether attributes read by path mark a link.
bool IsLinkByAttributes(DWORD attributes, const std::wstring& native) {
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
           IsLinkTag(ReparseTagOf(native));
}

EntryKind KindOfAttributes(DWORD attributes, const std::wstring& native, std::optional<DWORD> tag) {
    if (attributes == INVALID_FILE_ATTRIBUTES) return EntryKind::Missing;
    const bool link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) && IsLinkTag(tag ? *tag : ReparseTagOf(native));
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return link ? EntryKind::FolderLink : EntryKind::Folder;
    if (attributes & FILE_ATTRIBUTE_DEVICE) return EntryKind::Special;
    return link ? KindBehindFileLink(native) : EntryKind::File;
}

}  // namespace fs_win32

// ---------------------------------------------------------------- queries

bool FileExists(const ByteString& path) {
    std::wstring native;
    if (!NativePathOf(path, native) || native.empty() || HasWildcard(native)) return false;
    WIN32_FIND_DATAW data;
    const HANDLE find = FindFirstFileW(native.c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        FindClose(find);
        return true;
    }
    // "File not found": the folder was read and holds no such name, the
    // answer of nearly every check before a move.  Only a path that ends in
    // a separator (a drive root among them) is never found by a listing and
    // may exist all the same; other failures are asked once more.
    if (GetLastError() == ERROR_FILE_NOT_FOUND && !IsSlash(native.back())) return false;
    return AttributesOf(native) != INVALID_FILE_ATTRIBUTES;
}

EntryKind KindOf(const ByteString& path) {
    std::wstring native;
    if (!NativePathOf(path, native)) return EntryKind::Missing;
    return KindOfAttributes(AttributesOf(native), native);
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

bool CreateFolder(const ByteString& path) {
    std::wstring native;
    return NativePathOf(path, native) && CreateDirectoryW(native.c_str(), nullptr);
}

bool RemoveFolder(const ByteString& path) {
    std::wstring native;
    return NativePathOf(path, native) && RemoveDirectoryW(native.c_str());
}

namespace fs_win32 {

bool IsLostConnection(DWORD error) {
    switch (error) {
    // The server or the share went away, or stopped answering.
    case ERROR_REM_NOT_LIST:        // the remote computer is not available
    case ERROR_BAD_NETPATH:         // the network path was not found
    case ERROR_DEV_NOT_EXIST:       // the network resource is no longer available
    case ERROR_ADAP_HDW_ERR:        // a network adapter hardware error
    case ERROR_UNEXP_NET_ERR:       // an unexpected network error
    case ERROR_NETNAME_DELETED:     // the network name is no longer available
    case ERROR_BAD_NET_NAME:        // the share cannot be found
    case ERROR_NET_WRITE_FAULT:     // a write fault on the network
    case ERROR_SEM_TIMEOUT:         // the server did not answer in time
    case ERROR_VC_DISCONNECTED:     // the session was cancelled
    // The connection itself.
    case ERROR_CONNECTION_UNAVAIL:  // a remembered connection that is not connected
    case ERROR_NO_NET_OR_BAD_PATH:  // the network provider is not available
    case ERROR_NO_NETWORK:          // the network is not present or not started
    case ERROR_CONNECTION_REFUSED:  // the server refused the connection
    case ERROR_GRACEFUL_DISCONNECT: // the connection was closed
    case ERROR_CONNECTION_INVALID:  // no such connection (any more)
    case ERROR_NETWORK_UNREACHABLE:
    case ERROR_HOST_UNREACHABLE:
    case ERROR_PROTOCOL_UNREACHABLE:
    case ERROR_PORT_UNREACHABLE:    // no service on the server any more
    case ERROR_CONNECTION_ABORTED:  // aborted by this machine
    case ERROR_NOT_CONNECTED:       // the network connection does not exist
        return true;
    // Not the network: a path or a name that is missing or refused
    // (ERROR_NETWORK_ACCESS_DENIED, ERROR_LOGON_FAILURE), a server that
    // answered that it cannot do this (ERROR_BAD_NET_RESP, ERROR_NOT_SUPPORTED),
    // a server that is busy for now (ERROR_NETWORK_BUSY).
    default: return false;
    }
}

}  // namespace fs_win32

bool FolderUnreachable(const ByteString& folder) {
    std::wstring native;
    if (!NativePathOf(folder, native)) return false;
    // The free space is asked of the server itself, where attributes may come
    // from what the redirector remembers.
    if (!native.empty() && native.back() != L'\\') native += L'\\';
    ULARGE_INTEGER available;
    return !GetDiskFreeSpaceExW(native.c_str(), &available, nullptr, nullptr) && IsLostConnection(GetLastError());
}

// ---------------------------------------------------------------- open folders

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
    // Held with a right that takes part in the sharing check (an open for
    // attributes alone does not), and without delete sharing: while it is
    // open Windows refuses to rename or remove the folder.  Traversing is
    // enough; a folder that may be listed but not traversed is held for
    // listing.
    const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (followLink ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
    for (const DWORD access : {FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                               FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE}) {
        state->handle = Handle(CreateFileW(native.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                           OPEN_EXISTING, flags, nullptr));
        if (state->handle.valid()) break;
        state->error = GetLastError();
        if (state->error != ERROR_ACCESS_DENIED) return state;
    }
    if (!state->handle.valid()) return state;
    BY_HANDLE_FILE_INFORMATION info;
    FILE_ATTRIBUTE_TAG_INFO tag{};
    const bool folder = GetFileInformationByHandle(state->handle.get(), &info) &&
                        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    // Not followed: a name-surrogate reparse point is a link, never walked.
    const bool link = !followLink && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
                      (!GetFileInformationByHandleEx(state->handle.get(), FileAttributeTagInfo, &tag, sizeof tag) ||
                       IsLinkTag(tag.ReparseTag));
    if (!folder || link) {
        (void)state->handle.Close();  // only asked about
        state->error = ERROR_DIRECTORY;
        return state;
    }
    state->id = FileId{info.dwVolumeSerialNumber, (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
    return state;
}

}  // namespace

namespace fs_win32 {

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

}  // namespace fs_win32

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

bool OpenFolder::NotTheFolder() const {
    return state_ && !state_->handle.valid() && state_->error == ERROR_DIRECTORY;
}

FileId OpenFolder::Id() const { return state_ ? state_->id : FileId{}; }

uint32_t OpenFolder::Mode() const { return 0; }

// File IDs of NTFS carry a sequence number: a new folder never gets the ID of
// one removed.
uint32_t OpenFolder::Owner() const { return 0; }

bool OpenFolder::OwnedByUserAlone() const {
    std::wstring native;
    if (!StillHeld(state_.get()) || !NativePathOf(state_->path, native)) return false;
    // Asked through a handle of its own that may read the access list, which
    // must lead to the very folder held.
    const Handle asked(CreateFileW(native.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    BY_HANDLE_FILE_INFORMATION info;
    if (!asked.valid() || !GetFileInformationByHandle(asked.get(), &info) ||
        FileId{info.dwVolumeSerialNumber, (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow} != state_->id)
        return false;
    return KeepsOwners(asked.get()) && fs_win32::OwnedByUserAlone(asked.get());
}

bool OpenFolder::List(std::vector<FolderEntry>& entries) const {
    entries.clear();
    return StillHeld(state_.get()) && ListFolderAt(state_->path, entries);
}

std::optional<bool> OpenFolder::IsEmpty() const {
    if (!StillHeld(state_.get())) return std::nullopt;
    return FolderIsEmptyAt(state_->path);
}

std::optional<int64_t> OpenFolder::FileSizeOf(const ByteString& name) const {
    if (!StillHeld(state_.get())) return std::nullopt;
    return ::FileSizeOf(EntryPath(*state_, name));
}

bool OpenFolder::RemoveFolder(const ByteString& name, const FileId& id) const {
    if (!StillHeld(state_.get())) return false;
    const ByteString path = EntryPath(*state_, name);
    std::wstring native;
    if (!NativePathOf(path, native) || IdOf(native, false) != id) return false;
    return ::RemoveFolder(path);
}

std::optional<FileStamp> OpenFolder::StampOf(const ByteString& name) const {
    if (!StillHeld(state_.get())) return std::nullopt;
    return ::FileStampOf(EntryPath(*state_, name));
}

bool OpenFolder::CreateFolder(const ByteString& name) const {
    return StillHeld(state_.get()) && ::CreateFolder(EntryPath(*state_, name));
}

OpenFolder OpenFolder::CreateChild(const ByteString& name, uint32_t) const {
    auto refused = std::make_unique<State>();
    refused->error = ERROR_INVALID_NAME;
    if (!StillHeld(state_.get())) return OpenFolder(std::move(refused));
    const ByteString path = EntryPath(*state_, name);
    std::wstring native;
    // It gets the access list that a new folder there inherits.
    if (!NativePathOf(path, native) || !CreateDirectoryW(native.c_str(), nullptr)) {
        refused->error = GetLastError();
        return OpenFolder(std::move(refused));
    }
    return OpenFolder(HoldFolder(path, false));
}

std::optional<FileStamp> OpenFolder::ContentStampOf(const ByteString& name) const {
    std::wstring native;
    if (!StillHeld(state_.get()) || !NativePathOf(EntryPath(*state_, name), native)) return std::nullopt;
    const Handle handle = OpenForQuery(native, true);
    BY_HANDLE_FILE_INFORMATION info;
    if (!handle.valid() || !GetFileInformationByHandle(handle.get(), &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return std::nullopt;
    return FileStamp{FileId{info.dwVolumeSerialNumber, (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow},
                     static_cast<int64_t>((uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow),
                     static_cast<int64_t>((uint64_t{info.ftLastWriteTime.dwHighDateTime} << 32) |
                                          info.ftLastWriteTime.dwLowDateTime)};
}
