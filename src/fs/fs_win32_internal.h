#pragma once
// What the Windows files of the file layer share: native paths, handles,
// errors, attributes, temporary files, and the steps one file's operations
// lend another.
#include <windows.h>

#include <optional>
#include <string>

#include "fs/copy_progress.h"
#include "fs/file_error.h"
#include "fs/folders.h"
#include "fs/fs_win32.h"
#include "text/byte_string.h"

namespace fs_win32 {

// Whole-file reads and writes move data in blocks of this size.
constexpr DWORD kBlockSize = 64 * 1024;

// The pieces of one copy into `to`: each told to the progress and, for a copy
// that is flushed at its end, flushed as it goes, so that the final flush
// never finds gigabytes to write (and the copy keeps reporting meanwhile).
class CopyPace {
public:
    CopyPace(HANDLE to, int64_t size, CopyProgress* progress, bool flushed)
        : to_(to), flushed_(flushed), pieces_(progress, size) {}

    // How many bytes the next piece copies.
    size_t Next() const { return pieces_.Next(); }
    // A piece of bytes is done; the last one is left to the final flush (a
    // small file: all of it).  False when the flush fails.
    [[nodiscard]] bool Done(size_t bytes, bool last) {
        if (flushed_ && !last && !FlushFileBuffers(to_)) return false;
        pieces_.Done(bytes);
        return true;
    }
    // Bytes passed over without writing (a hole).
    void Skipped(int64_t bytes) { pieces_.Skipped(bytes); }

private:
    HANDLE to_;
    bool flushed_;
    CopyPieces pieces_;
};

// ---------------------------------------------------------------- paths

inline bool IsSlash(wchar_t c) { return c == L'\\' || c == L'/'; }

// "\\?\" and "\\.\" paths bypass the normalisation of Win32 paths.
bool IsDevicePath(const std::wstring& path);

// "C:\..." or "\\server\...": the same wherever the current folder is.
bool IsFullyQualified(const std::wstring& path);

bool HasWildcard(const std::wstring& native);

// The UTF-16 form of a path as written; false when it has none or holds a
// NUL byte, which would cut it short and name another file.
bool WidePathOf(const ByteString& path, std::wstring& wide);

// ---------------------------------------------------------------- handles

class Handle {
public:
    explicit Handle(HANDLE handle = INVALID_HANDLE_VALUE) : handle_(handle) {}
    ~Handle() { (void)Close(); }
    Handle(Handle&& other) noexcept : handle_(other.handle_) { other.handle_ = INVALID_HANDLE_VALUE; }
    Handle& operator=(Handle&& other) noexcept {
        if (this != &other) {
            (void)Close();
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
    [[nodiscard]] bool Close() {
        if (!valid()) return true;
        const HANDLE handle = handle_;
        handle_ = INVALID_HANDLE_VALUE;
        return CloseHandle(handle) != 0;
    }

private:
    HANDLE handle_;
};

// Opens a file for exclusive use: nobody else may read or write it meanwhile.
Handle OpenExclusive(const std::wstring& native, DWORD access, DWORD disposition);

// Opens a file shared with other readers (and, with share, writers): a backup
// tool or a viewer that has the settings or a log open never disturbs the
// program, nor the program them.
Handle OpenShared(const std::wstring& native, DWORD access, DWORD share, DWORD disposition);

// Opens anything, files and folders, only to ask about it.  Asking needs no
// access to the content, so this works on a file that another program holds
// for exclusive use.
Handle OpenForQuery(const std::wstring& native, bool followLinks);

// ---------------------------------------------------------------- errors and writing

// The cause of the file-error message for a system error code.
FileErrorCause CauseOfError(DWORD error);

[[noreturn]] void ThrowLastError(FileStep step, const ByteString& path);

// Writes every byte; false with the cause when a write fails, or stores fewer
// bytes than asked, which is a full disk.
[[nodiscard]] bool TryWriteAll(HANDLE file, const char* data, size_t size, FileErrorCause& cause);
void WriteAll(HANDLE file, const ByteString& text, const ByteString& path);
void CloseOrThrow(Handle& file, const ByteString& path);
void SeekOrThrow(HANDLE file, DWORD from, const ByteString& path);

// ---------------------------------------------------------------- attributes and kinds

inline DWORD AttributesOf(const std::wstring& native) { return GetFileAttributesW(native.c_str()); }

bool IsReadOnlyFile(DWORD attributes);

// Like the runtime's permission change to read and write: only the read-only
// mark goes, every other attribute stays.
void ClearReadOnly(const std::wstring& native, DWORD attributes);

// Whether attributes read by path mark a link (a name-surrogate reparse point).
bool IsLinkByAttributes(DWORD attributes, const std::wstring& native);

std::optional<FileId> IdOf(const std::wstring& native, bool followLinks);

// What attributes and a reparse tag make of an entry.  `native` is only
// opened for a link, to see where it leads (and, without a tag from a
// listing, to read the tag).
EntryKind KindOfAttributes(DWORD attributes, const std::wstring& native, std::optional<DWORD> tag = std::nullopt);

// The kind of a listed entry with these attributes and reparse tag.
inline EntryKind KindOfListedEntry(DWORD attributes, DWORD reparseTag) {
    return KindOfAttributes(attributes, std::wstring(), reparseTag);
}

// Whether a move from one path to the other can only be a copy
// (copy_move_win32.cpp): a file on a local drive and a folder on a file
// server reached by its network name ("\\server\share\...") are never on
// one volume, so the rename is not tried (it costs the server requests of its
// own).  False wherever a rename may work, a mapped network drive included.
bool NeverOneVolume(const std::wstring& from, const std::wstring& to);

// Whether a system error code says that a file server or its connection was
// lost or stopped answering (folders_win32.cpp), rather than that a path is
// missing or refused.
bool IsLostConnection(DWORD error);

// ---------------------------------------------------------------- temporary files

// Removes a temporary file, also when the copy made it read-only.
void RemoveTemp(const std::wstring& tempPath);

// A new, empty file beside `target`, open for exclusive writing (and what
// else access asks for); not valid when its folder takes no new file.
Handle CreateTempBeside(const std::wstring& target, std::wstring& tempPath, DWORD access = GENERIC_WRITE);

}  // namespace fs_win32

// The folder's path serves for its entries: its handle, held with a right
// that takes part in the sharing check and without delete sharing, keeps the
// folder from being renamed or deleted meanwhile, so the path goes on naming
// this very folder.  Where the path may change all the same (a folder above
// renamed, a system that does not enforce sharing for folders), every use
// checks that the path still names it.
struct OpenFolder::State {
    fs_win32::Handle handle;
    ByteString path;
    FileId id;
    DWORD error = ERROR_SUCCESS;  // why the open failed
};

namespace fs_win32 {

// Whether the folder is open and its path still names it.
bool StillHeld(const OpenFolder::State* folder);

// The path of an entry of the folder.
ByteString EntryPath(const OpenFolder::State& folder, const ByteString& name);

}  // namespace fs_win32

namespace fs_win32 {

// ---------------------------------------------------------------- owners (ownership_win32.cpp)

// Whether the volume of an open file keeps owners and access lists (NTFS
// does, FAT does not).
bool KeepsOwners(HANDLE handle);

// Whose a file or folder is: the user's alone, another's, or the user's
// with others allowed to add, change or remove something in it.
enum class Holding { UserAlone, OtherOwner, OthersMayChange };

// The holding of a file or folder open with READ_CONTROL: it must belong to
// the user (or to the owner this process gives its new files), and its
// access list must let nobody else but the system and the administrators add,
// change or remove anything.  withWhatItPassesOn: the entries a folder passes
// on to the files and folders created in it count as well.  OtherOwner when
// the access list cannot be read.
Holding HoldingOf(HANDLE handle, bool withWhatItPassesOn);

// HoldingOf(handle, false) is UserAlone.
bool OwnedByUserAlone(HANDLE handle);

// Creates a folder that is the user's alone: it keeps what the folder above
// passes on when that lets nobody else change anything (as the user's own
// profile folders do), and otherwise gets a list of its own that lets in
// only the user, the system and the administrators.
bool CreateFolderOfUsersOwn(const std::wstring& native);

// A security descriptor that lets the user alone at a new file, or the user,
// the system and the administrators into a new folder and everything created
// in it.
class UserOnlySecurity {
public:
    enum class Kind { File, Folder };
    explicit UserOnlySecurity(Kind kind = Kind::File);
    // nullptr when none could be made (the file then gets its folder's).
    SECURITY_ATTRIBUTES* Attributes() { return valid_ ? &attributes_ : nullptr; }

private:
    std::string acl_;  // the ACL's bytes
    SECURITY_DESCRIPTOR descriptor_{};
    SECURITY_ATTRIBUTES attributes_{};
    bool valid_ = false;
};

}  // namespace fs_win32
