#pragma once
// The program's own files: where they live, and the whole-file reads and
// writes of the settings file, the logs and the undo journal.
//
// A failure inside a file that is already open (read, write, seek, truncate,
// close) throws FileError, which carries its cause up to the message that
// words it.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "fs/file_error.h"
#include "text/byte_string.h"

// The whole content of a file; empty when it cannot be opened for reading.
// A failure after the file was opened throws FileError.
[[nodiscard]] ByteString ReadTextFile(const ByteString& path);

// Replaces the whole content of a file, clearing a read-only mark first and
// creating the file if needed.  False when it can be neither opened nor
// created.
[[nodiscard]] bool WriteTextFile(const ByteString& path, const ByteString& text);

// Replaces the whole content of a file without ever leaving it half-written:
// the text goes to a new file beside it, which takes the old one's place only
// when every byte was stored and flushed.  A link is written through (its
// target is replaced, the link stays).  A read-only file is written all the
// same.  Where no file can be created beside it, or the old file cannot be
// replaced (a file another program holds, a file mounted on its own), writes
// in place with WriteTextFile.
// False when the file can be neither written nor created; a failed write
// throws FileError and leaves the old file intact.
[[nodiscard]] bool WriteTextFileSafely(const ByteString& path, const ByteString& text);

// Adds the text at the end of a file, creating it if needed.  False when it
// can be neither opened nor created; fails on a read-only file.  A write that
// stores fewer bytes than asked throws FileError with cause DiskFull.
[[nodiscard]] bool AppendTextToFile(const ByteString& path, const ByteString& text);

// A file of the program's own that records are added to, one after another.
// Each Append hands its bytes to the system at once, so that a kill of the
// program afterwards never loses them (a power cut may).
class AppendFile {
public:
    AppendFile();
    ~AppendFile();
    AppendFile(AppendFile&& other) noexcept;
    AppendFile& operator=(AppendFile&& other) noexcept;

    // A new, empty file, readable and writable by the user alone: a file or
    // link of that name is removed first, and the new one is created
    // exclusively, so nothing is ever written through a link or into a FIFO.
    // Not open when it cannot be created (a folder of that name among others).
    [[nodiscard]] static AppendFile CreateNew(const ByteString& path);

    bool IsOpen() const;
    // All or nothing: a write that fails part-way is cut back to where the
    // file ended, and false is returned.  A file that cannot be cut back is
    // closed, so that nothing is ever added after a piece of a record.
    [[nodiscard]] bool Append(const ByteString& bytes);
    // Gives the open file the name path, in the place of the file or link of
    // that name (a link itself is replaced, never what it leads to); false
    // when that cannot be done (a folder of that name).  It stays open.
    [[nodiscard]] bool Rename(const ByteString& path);

    struct State;  // each platform's own

private:
    explicit AppendFile(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

// Removes the file or link of that name, never a folder.  True when no file
// or link of that name is left.
[[nodiscard]] bool RemoveOwnFile(const ByteString& path);

// A file of the program's own, read piece by piece.  Opened only when it is a
// plain file, reached without following a link, that belongs to the user and
// that no other user can write to; on Windows a volume that keeps no owners
// (FAT) lets every plain file through.
class OwnFileReader {
public:
    OwnFileReader();
    ~OwnFileReader();
    OwnFileReader(OwnFileReader&& other) noexcept;
    OwnFileReader& operator=(OwnFileReader&& other) noexcept;

    [[nodiscard]] static OwnFileReader Open(const ByteString& path);

    bool IsOpen() const;
    // The file's size when it was opened.
    uint64_t Size() const;
    // Reads up to size bytes from offset: the number read, 0 at the end, -1
    // when the read failed.
    [[nodiscard]] int64_t ReadAt(uint64_t offset, char* buffer, size_t size) const;

    struct State;  // each platform's own

private:
    explicit OwnFileReader(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

// One holder at a time, across processes: an exclusive lock on a file of the
// program's own (created if needed, never through a link), held until the
// object goes.
class ProgramLock {
public:
    enum class Outcome {
        Taken,
        Busy,         // another holder has it
        Unavailable,  // the lock file cannot be opened or locked at all
    };

    ProgramLock();
    ~ProgramLock();
    ProgramLock(ProgramLock&& other) noexcept;
    ProgramLock& operator=(ProgramLock&& other) noexcept;

    [[nodiscard]] static ProgramLock Take(const ByteString& path, Outcome& outcome);
    bool Held() const;

    struct State;  // each platform's own

private:
    explicit ProgramLock(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

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

// Why the user's data folder cannot be used: another user could then read
// the settings and logs or place their own, and so send the dropped files
// into a folder of theirs.
enum class DataFolderFault {
    None,
    NotAFolder,      // something else has its name
    Link,            // a symbolic link (or junction) has its name
    OtherOwner,      // it belongs to another user
    OthersMayWrite,  // another user may create or replace files in it
};

struct DataFolderChoice {
    // With its trailing separator.  When fault is set, the user's data
    // folder that was refused, named for the message that stops the start.
    ByteString folder;
    DataFolderFault fault = DataFolderFault::None;
};

// The folder of the settings file, both logs and the default destination,
// with its trailing separator, decided once at start: programDir (ProgramDir(),
// with its separator) when a file can be created and removed there, as in a
// portable copy or a per-user install; otherwise, as for a program installed
// for all users, the user's own data folder (UserDataFolder()).  programDir
// again when that cannot be had either (nothing can be saved then).  A user's
// data folder that is there but fails its check is refused (fault set): it is
// never used, and no other folder is taken in its place.  Empty only when
// neither folder has a code page 932 form.
DataFolderChoice ChooseDataFolder(const ByteString& programDir);

// Whether a new file can be created in the folder (given with its trailing
// separator) and removed again; nothing is left behind either way.
[[nodiscard]] bool CanCreateFileIn(const ByteString& folder);

// The user's own data folder for the program, with its trailing separator,
// created with its missing parents, open to the user alone (0700):
// $XDG_DATA_HOME/tessarbolink/ (an absolute $XDG_DATA_HOME only), by default
// ~/.local/share/tessarbolink/, on Linux; %LOCALAPPDATA%\Tessarbolink\ on
// Windows.  Used only when it is a real folder, no link, that belongs to the
// user and that no other user may write to (on Windows: no junction either,
// owned by the user or by the owner the process gives its files, and its
// access list, with what it passes on to new files, lets nobody else but the
// system and the administrators change anything; created, where missing, with
// such a list); otherwise refused with the fault.  Empty without a fault when
// it has no code page 932 form or cannot be created.
DataFolderChoice UserDataFolder();
