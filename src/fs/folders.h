#pragma once
// Files and folders: what a path names, the identity of a file, creating and
// removing folders, and folders held open while a walk handles their entries.
// Paths are code page 932 ByteStrings; each platform converts them strictly to
// its native form and fails the operation when a path has no native form: no
// character is ever substituted, so no other file is touched in the place of
// the one named.
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "fs/copy_progress.h"
#include "text/byte_string.h"

// The separator the program appends when it joins paths: "\" on Windows, "/"
// elsewhere.  Scans that look for a separator accept both bytes everywhere.
extern const char kPathSeparator;

// What a path names, without following a final link.
enum class EntryKind {
    Missing,     // does not exist, or cannot be queried
    File,        // a regular file, or a link to one
    Folder,      // a real folder
    FolderLink,  // a symbolic link or junction that leads to a folder: never followed
    Special,     // FIFO, socket, device, dangling link: never opened
};

[[nodiscard]] EntryKind KindOf(const ByteString& path);

// Whether the path names an existing file or folder (a link counts as itself).
[[nodiscard]] bool FileExists(const ByteString& path);

// The full 64-bit size of a file (of the file a link leads to); nullopt when
// it cannot be read, missing files and folders included.
[[nodiscard]] std::optional<int64_t> FileSizeOf(const ByteString& path);

// The identity of a file or folder (device or volume, and index), so that two
// paths can be compared without comparing their texts.  A link stands for what
// it leads to: a destination given as a link to a folder is that folder.
struct FileId {
    uint64_t volume = 0;
    uint64_t index = 0;
    bool operator==(const FileId&) const = default;
};

[[nodiscard]] std::optional<FileId> FileIdOf(const ByteString& path);

// What recognises a file later: its identity, size and modification time (in
// the system's own units: nanoseconds since 1970 on Linux, 100 ns since 1601
// on Windows).
struct FileStamp {
    FileId id;
    int64_t size = 0;
    int64_t modified = 0;
    bool operator==(const FileStamp&) const = default;
};

// The stamp of what a path names, without following a final link; nullopt
// when it cannot be read.
[[nodiscard]] std::optional<FileStamp> FileStampOf(const ByteString& path);

// Creates one folder.
[[nodiscard]] bool CreateFolder(const ByteString& path);

// Creates every folder along the path, read by characters: a creation attempt
// for the prefix before each "\" or "/" and for the whole path.  Each attempt
// may fail (the folder exists, the name is impossible) and is not reported:
// whether the folder is there afterwards is for the caller to find out.
void CreateFolderChain(const ByteString& path);

// Removes an empty folder.
[[nodiscard]] bool RemoveFolder(const ByteString& path);

// Whether the file system of the folder has stopped answering, as a file
// server does that went away (the connection lost or timed out, the share
// gone): asked of the server itself, not of what the system remembers.  A
// folder that is only missing, or refused to this user, is not unreachable.
[[nodiscard]] bool FolderUnreachable(const ByteString& folder);

// One entry of a folder listing ("." and ".." are never listed).
struct FolderEntry {
    ByteString name;          // code page 932; characters without a code page
                              // 932 form are shown as "?"
    // False when the path folder + separator + name would not lead to this
    // entry: the name has no code page 932 form, or (on Windows) path rules
    // would change it (a trailing "." or blank, a device name such as CON).
    // Nothing may then be done to the entry through that path.
    bool convertible = true;
    EntryKind kind = EntryKind::File;
    // The entry's file index as the listing gave it (0: the listing gives none).
    uint64_t index = 0;
};

// A folder held open while a walk handles its entries.  Everything done to an
// entry goes through the open folder, never again through the folder's path:
// a folder that is renamed, or replaced by a link, once it is open still leads
// only to its own entries, so nothing outside a walked tree is ever touched.
// On Linux it holds a descriptor and reaches its entries relative to it; on
// Windows it holds a handle that keeps the folder from being renamed or
// deleted while it is open.  Every operation of a folder that is not open
// fails.
class OpenFolder {
public:
    OpenFolder();
    ~OpenFolder();
    OpenFolder(OpenFolder&& other) noexcept;
    OpenFolder& operator=(OpenFolder&& other) noexcept;

    // A folder by its path (a dropped folder, the folder of a dropped file);
    // a final link is followed.
    [[nodiscard]] static OpenFolder Open(const ByteString& path);
    // A folder listed in this one: never through a link, and only while its
    // name still holds the folder that was listed.
    [[nodiscard]] OpenFolder OpenChild(const FolderEntry& entry) const;

    bool IsOpen() const;
    // After a failed open: the folder was no longer there at all (a vanished
    // folder contributes nothing; any other failure is worth reporting).
    bool Vanished() const;
    // After a failed open: something else than the folder asked for holds
    // the name (a file, a link, another folder than the one listed).
    bool NotTheFolder() const;
    FileId Id() const;
    // The folder's permission bits (0 on Windows, which has none).
    uint32_t Mode() const;
    // The user id of its owner (0 on Windows).  With the identity it tells
    // a folder from a later one that got the same number.
    uint32_t Owner() const;
    // Whether the folder belongs to the user and no other user can write to
    // it (on Windows: its owner is the user, and its access list lets nobody
    // else but the system and the administrators add, change or remove
    // anything; a volume that keeps no owners fails).
    [[nodiscard]] bool OwnedByUserAlone() const;

    // The whole listing, in the order the file system returns it; false
    // when it cannot be read.
    [[nodiscard]] bool List(std::vector<FolderEntry>& entries) const;
    // Whether the folder lists no entry; nullopt when it cannot be listed.
    [[nodiscard]] std::optional<bool> IsEmpty() const;

    // The functions of the same names, for the file name of this folder.
    [[nodiscard]] std::optional<int64_t> FileSizeOf(const ByteString& name) const;
    // placed, when given, gets the stamp of the file at the destination
    // after a move (nullopt where it cannot be known).
    [[nodiscard]] bool MoveNoOverwrite(const ByteString& name, const ByteString& destination,
                                       CopyProgress* progress = nullptr,
                                       std::optional<FileStamp>* placed = nullptr) const;
    [[nodiscard]] bool CopyOverwrite(const ByteString& name, const ByteString& destination,
                                     CopyProgress* progress = nullptr) const;
    [[nodiscard]] bool RemoveFile(const ByteString& name) const;
    // Removes the empty folder of this name, if it is still the folder id.
    [[nodiscard]] bool RemoveFolder(const ByteString& name, const FileId& id) const;
    // FileStampOf for a name of this folder.
    [[nodiscard]] std::optional<FileStamp> StampOf(const ByteString& name) const;
    // Creates a folder of this name in this folder.
    [[nodiscard]] bool CreateFolder(const ByteString& name) const;
    // Creates a folder of this name that only the user may enter, opens it as
    // OpenChild does and then gives it the permission bits mode (0: it stays
    // the user's alone; Windows ignores mode).  Not open on failure, also
    // when something of that name is there already.
    [[nodiscard]] OpenFolder CreateChild(const ByteString& name, uint32_t mode) const;
    // The stamp of the file of this name, or of the file a link of this name
    // leads to: what a copy of it read.
    [[nodiscard]] std::optional<FileStamp> ContentStampOf(const ByteString& name) const;
    // Moves the file of this name into another open folder as toName, as
    // MoveNoOverwrite does: never replacing anything, across file systems too.
    [[nodiscard]] bool MoveNoOverwrite(const ByteString& name, const OpenFolder& to, const ByteString& toName,
                                       CopyProgress* progress = nullptr) const;

    struct State;  // each platform's own

private:
    explicit OpenFolder(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};
