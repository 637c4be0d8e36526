#pragma once
// File-system operations.  Paths are code page 932 ByteStrings; each platform
// file (fs_posix.cpp, fs_win32.cpp) converts them strictly to the native form
// and fails the operation when a path has no native form: no character is ever
// substituted, so no other file is touched in the place of the one named.
//
// Operations report success as 1 and failure as 0.  A failure inside a file
// that is already open (read, write, seek, truncate, close) throws FileError.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "text/byte_string.h"
#include "text/date_time.h"
#include "fs/file_error.h"

// The separator the program appends when it joins paths: "\" on Windows, "/"
// elsewhere.  Scans that look for a separator accept both bytes everywhere.
extern const char kPathSeparator;

// 1 when the path names an existing file or folder (a link counts as itself).
int FileExists(const ByteString& path);

// Moves a file.  Never replaces an existing destination, also when one
// appears between the check and the move; a move to another file system or
// volume copies, flushes the copy, publishes it under the new name only while
// it is free, and removes the source last, only if it is still the very file
// that was copied and unchanged.  On failure the source stays, and nothing the
// move created is left behind.
int MoveNoOverwrite(const ByteString& source, const ByteString& destination);

// Copies a file, replacing an existing destination.  Fails, touching nothing,
// when both name the same file, when the existing destination is read-only,
// when the source is not a regular file, and when the destination is a link
// that the system would not follow for this user (another user's link in a
// shared sticky folder).  Keeps the modification time and permission bits.
// The copy gets its name only when complete: one that fails part-way, or is
// cut short by a crash, leaves the old destination as it was.  A copy that
// replaces a file is flushed before it takes the old one's place.
int CopyOverwrite(const ByteString& source, const ByteString& destination);

// Deletes a file.  Refuses a folder, and a read-only file as the Windows
// delete does (on POSIX: a file without any write permission).
int RemoveFile(const ByteString& path);

// The full 64-bit size of a file (of the file a link leads to); nullopt when
// it cannot be read, missing files and folders included.
std::optional<int64_t> FileSizeOf(const ByteString& path);

// Creates one folder; 1 on success.
int CreateFolder(const ByteString& path);

// Creates every folder along the path, read by characters: a creation attempt
// for the prefix before each "\" or "/" and for the whole path.  Failures are
// ignored; returns 1.
int CreateFolderChain(const ByteString& path);

// Removes an empty folder; 1 on success.
int RemoveFolder(const ByteString& path);

// The whole content of a file; empty when it cannot be opened for reading.
// A failure after the file was opened throws FileError.
ByteString ReadTextFile(const ByteString& path);

// Replaces the whole content of a file, clearing a read-only mark first and
// creating the file if needed.  0 when it can be neither opened nor created.
int WriteTextFile(const ByteString& path, const ByteString& text);

// Replaces the whole content of a file without ever leaving it half-written:
// the text goes to a new file beside it, which takes the old one's place only
// when every byte was stored and flushed.  A link is written through (its
// target is replaced, the link stays).  A read-only file is written all the
// same.  Where no file can be created beside it, or the old file cannot be
// replaced (a file another program holds, a file mounted on its own), writes
// in place with WriteTextFile.
// 0 when the file can be neither written nor created; a failed write throws
// FileError and leaves the old file intact.
int WriteTextFileSafely(const ByteString& path, const ByteString& text);

// Adds the text at the end of a file, creating it if needed.  0 when it can
// be neither opened nor created; fails on a read-only file.  A write that
// stores fewer bytes than asked throws FileError with cause DiskFull.
int AppendTextToFile(const ByteString& path, const ByteString& text);

// The full path of the running executable in code page 932 (empty when it has
// no such form).
ByteString ExecutablePath();

// The executable's folder up to and including its last "\" or "/", read by
// characters; empty when it has neither.
ByteString ProgramDir();

// ProgramDir without one trailing platform separator.
ByteString ProgramDirNoSlash();

// A folder path without one trailing platform separator.
ByteString WithoutTrailingSeparator(ByteString folder);

// What a path names, without following a final link.
enum class EntryKind {
    Missing,     // does not exist, or cannot be queried
    File,        // a regular file, or a link to one
    Folder,      // a real folder
    FolderLink,  // a symbolic link or junction that leads to a folder: never followed
    Special,     // FIFO, socket, device, dangling link: never opened
};

EntryKind KindOf(const ByteString& path);

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

// Reads a folder's whole listing, in the order the file system returns it.
// False when the listing cannot start.
bool ListFolder(const ByteString& folder, std::vector<FolderEntry>& entries);

// 1 when the folder lists no entry, 0 when it lists one, -1 when it cannot be
// listed.
int FolderIsEmpty(const ByteString& folder);

// The identity of a file or folder (device or volume, and index), so that two
// paths can be compared without comparing their texts.  A link stands for what
// it leads to: a destination given as a link to a folder is that folder.
struct FileId {
    uint64_t volume = 0;
    uint64_t index = 0;
    bool operator==(const FileId&) const = default;
};

std::optional<FileId> FileIdOf(const ByteString& path);

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
std::optional<FileStamp> FileStampOf(const ByteString& path);

// A file that records are added to, one after another.  Each Append hands
// its bytes to the system at once, so that a kill of the program afterwards
// never loses them (a power cut may).
class AppendFile {
public:
    AppendFile();
    ~AppendFile();
    AppendFile(AppendFile&& other) noexcept;
    AppendFile& operator=(AppendFile&& other) noexcept;

    // Creates the file, or empties the one there; not open on failure.
    static AppendFile Replace(const ByteString& path);

    bool IsOpen() const;
    // False when the bytes could not all be written.
    bool Append(const ByteString& bytes);

    struct State;  // each platform's own

private:
    explicit AppendFile(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

// A folder held open while a walk handles its entries.  Everything done to an
// entry goes through the open folder, never again through the folder's path:
// a folder that is renamed, or replaced by a link, once it is open still leads
// only to its own entries, so nothing outside a walked tree is ever touched.
// On Linux it holds a descriptor and reaches its entries relative to it; on
// Windows it holds a handle that keeps the folder from being renamed or
// deleted while it is open.
class OpenFolder {
public:
    OpenFolder();
    ~OpenFolder();
    OpenFolder(OpenFolder&& other) noexcept;
    OpenFolder& operator=(OpenFolder&& other) noexcept;

    // A folder by its path (a dropped folder); a final link is followed.
    static OpenFolder Open(const ByteString& path);
    // A folder listed in this one: never through a link, and only while its
    // name still holds the folder that was listed.
    OpenFolder OpenChild(const FolderEntry& entry) const;

    bool IsOpen() const;
    // After a failed open: the folder was no longer there at all (a vanished
    // folder contributes nothing; any other failure is worth reporting).
    bool Vanished() const;
    FileId Id() const;

    // The whole listing, in the order the file system returns it; false
    // when it cannot be read.
    bool List(std::vector<FolderEntry>& entries) const;
    // 1 when the folder lists no entry, 0 when it lists one, -1 when it
    // cannot be listed.
    int IsEmpty() const;

    // The functions of the same names, for the file name of this folder.
    std::optional<int64_t> FileSizeOf(const ByteString& name) const;
    int MoveNoOverwrite(const ByteString& name, const ByteString& destination) const;
    int CopyOverwrite(const ByteString& name, const ByteString& destination) const;
    int RemoveFile(const ByteString& name) const;
    // Removes the empty folder of this name, if it is still the folder id.
    int RemoveFolder(const ByteString& name, const FileId& id) const;
    // FileStampOf for a name of this folder.
    std::optional<FileStamp> StampOf(const ByteString& name) const;
    // Creates a folder of this name in this folder; 1 on success.
    int CreateFolder(const ByteString& name) const;
    // Moves the file of this name into another open folder as toName, as
    // MoveNoOverwrite does: never replacing anything, across file systems too.
    int MoveNoOverwrite(const ByteString& name, const OpenFolder& to, const ByteString& toName) const;

    struct State;  // each platform's own

private:
    explicit OpenFolder(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

// Seconds since 1970 now, as a 64-bit count.
int64_t CurrentTimeSeconds();

// Local time of a count of seconds since 1970, for any 64-bit date.
LocalDateTime ToLocalDateTime(int64_t secondsSince1970);

// ---------------------------------------------------------------------------
// Where the program keeps its files

// The folder of the settings file, both logs and the default destination,
// with its trailing separator, decided once at start: programDir (ProgramDir(),
// with its separator) when a file can be created and removed there, as in a
// portable copy or a per-user install; otherwise, as for a program installed
// for all users, the user's own data folder (UserDataFolder()).  programDir
// again when that cannot be had either (nothing can be saved then).  Empty
// only when neither folder has a code page 932 form.
ByteString DataFolderFor(const ByteString& programDir);

// 1 when a new file can be created in the folder (given with its trailing
// separator) and removed again; nothing is left behind either way.
int CanCreateFileIn(const ByteString& folder);

// The user's own data folder for the program, with its trailing separator,
// created with its missing parents: $XDG_DATA_HOME/tessarbolink/ (an absolute
// $XDG_DATA_HOME only), by default ~/.local/share/tessarbolink/, on Linux;
// %LOCALAPPDATA%\Tessarbolink\ on Windows.  Empty when it has no code page 932
// form or cannot be created.
ByteString UserDataFolder();
