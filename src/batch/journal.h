#pragma once
// The journal of the last batch: what it did to each file, written as it
// goes, so that undo can take it back, also after a crash or a kill.
//
// It is a file of the program's own (fs/program_files.h): made afresh for
// each batch, readable by the user alone, and read only when it is a plain
// file of the user's that nobody else can write to.  Code page 932, one line
// a record, each ended by LF; the fields are separated by TAB, and "%", TAB,
// CR and LF inside a path are written as "%25", "%09", "%0D" and "%0A" (none
// of these bytes is ever the second byte of a double-byte character, so a
// byte scan finds them).  The first line names the format; then comes the
// header: the destination folder and every dropped path, the only places in
// which undo acts; then the records.  A line cut short at the end of the file
// (a kill while it was written) is no record.  A file without this first line
// and header, such as the journal of an older version, has nothing to undo.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

#include "fs/folders.h"
#include "fs/program_files.h"
#include "text/byte_string.h"

enum class JournalKind : char {
    Moved = 'M',          // moved to destination; undone by moving it back
    Copied = 'C',         // copied to a new name; undone by removing the copy
    CopiedOver = 'R',     // copied over an existing file: cannot be undone
    Deleted = 'D',        // deleted by the small-file rule: cannot be undone
    EnteredFolder = 'E',  // a folder the batch took files from: what it was
    RemovedFolder = 'F',  // an emptied folder the batch removed; recreated
};

struct JournalRecord {
    JournalKind kind = JournalKind::Moved;
    ByteString source;       // the file's old path, or the folder's path
    ByteString destination;  // the file's new path (for Deleted: the name it
                             // would have had); empty for a folder
    FileStamp placed;        // Moved and Copied: the file as it was placed
    FileStamp original;      // Copied: its source as it was copied
    FileId folder;           // a folder's identity
    uint32_t mode = 0;       // a folder's permission bits (0 on Windows)
    uint32_t owner = 0;      // a folder's owner (0 on Windows)
};

// Where a batch may have acted, as the journal's header records it.
struct JournalHeader {
    ByteString destination;  // the destination folder, with its separator
    std::vector<ByteString> dropped;
};

enum class RecorderStart {
    Recording,
    Busy,          // another batch or undo of the same data folder runs
    NotRecording,  // no record can be kept of this batch
};

// What a batch reports as it acts, each step once it has happened.
class BatchRecorder {
public:
    virtual ~BatchRecorder() = default;
    // The batch is about to act.  Busy: another batch or undo runs, and
    // nothing may be touched.  Recording: the record of this batch has
    // replaced the one before.  NotRecording: this batch cannot be recorded,
    // and the record before is still there.
    virtual RecorderStart Begin(const JournalHeader& header) = 0;
    // After NotRecording, when the batch acts all the same: the record of
    // the batch before goes, so that undo never takes back an older batch.
    virtual void DropPrevious() = 0;
    virtual void Record(const JournalRecord& record) = 0;
    // How many moved or copied files have no record (a write failed): they
    // cannot be undone.
    virtual int LostRecords() const = 0;
};

// The recorder of the program: the journal file.  Begin takes the journal's
// lock, held until the writer goes, so that one batch or undo at a time acts
// for a data folder, across processes; it writes the header to a new file
// that then takes the old journal's place.  Each record is handed to the
// system as soon as its file is placed, so a batch cut short by a crash or a
// kill can be undone as far as it got.  A record that cannot be written is
// taken back whole and counted; the records after it are still tried.
class JournalWriter : public BatchRecorder {
public:
    explicit JournalWriter(ByteString path) : path_(std::move(path)) {}
    JournalWriter(const JournalWriter&) = delete;
    JournalWriter& operator=(const JournalWriter&) = delete;

    RecorderStart Begin(const JournalHeader& header) override;
    void DropPrevious() override;
    void Record(const JournalRecord& record) override;
    int LostRecords() const override { return lost_; }

    // After Begin: this batch is being recorded.
    bool Recording() const { return recording_; }
    // After DropPrevious: the journal of an earlier batch could be neither
    // replaced nor removed, so it must not be offered for undo any more.
    bool LeftOlderJournal() const { return leftOlder_; }

private:
    ByteString path_;
    ProgramLock lock_;
    AppendFile file_;
    bool recording_ = false;
    int lost_ = 0;
    bool leftOlder_ = false;
    ByteString line_;  // the record's line (its buffer reused)
};

// The journal's name in the folder of the settings file.
extern const char kJournalFileName[];

// Beside the journal: the lock file of its batches and undos, and the new
// journal before it takes the old one's place.
ByteString JournalLockPath(const ByteString& journalPath);
ByteString NewJournalPath(const ByteString& journalPath);

// The lock of the journal's batches and undos, held while the lock lives.
ProgramLock LockJournal(const ByteString& journalPath, ProgramLock::Outcome& outcome);

// Whether the journal holds anything to undo: its header and the lines up to
// the first record that undo acts on are read, nothing more.
bool JournalHasRecords(const ByteString& path);

// The journal read piece by piece, its records forwards or backwards; only
// the header and the line at hand are held.
class JournalReader {
public:
    // False when it is not the program's own plain file or has no header.
    [[nodiscard]] bool Open(const ByteString& path);
    const JournalHeader& Header() const { return header_; }
    // The first line and the header, as they are in the file.
    ByteString HeaderLines() const;

    // The records from the first, one a call (only those of folders when
    // foldersOnly); false after the last.
    [[nodiscard]] bool Next(JournalRecord& record, bool foldersOnly = false);
    // The lines Next passed over unread when asked for folders only: the
    // records of files.
    uint64_t PassedOver() const { return passedOver_; }
    // The records from the last, one a call; false after the first.  Where
    // the record's line is: its offset and length, LF included.
    [[nodiscard]] bool Previous(JournalRecord& record, uint64_t& offset, size_t& length);
    // The bytes of a line found before (false when it cannot be read).
    [[nodiscard]] bool LineAt(uint64_t offset, size_t length, ByteString& line) const;

private:
    bool NextLine(std::string_view& line);
    bool PreviousLine(std::string_view& line, uint64_t& offset);
    bool ReadBlock(uint64_t offset, size_t size, ByteString& into) const;

    OwnFileReader file_;
    JournalHeader header_;
    uint64_t headerEnd_ = 0;  // where the records start
    uint64_t end_ = 0;        // where the last complete line ends
    // Forwards: window_ holds the bytes from windowStart_ on, read up to next_.
    ByteString window_;
    uint64_t windowStart_ = 0;
    size_t next_ = 0;
    // Backwards: back_ holds the bytes from backStart_ on not handed out yet.
    ByteString back_;
    uint64_t backStart_ = 0;
    bool backReady_ = false;
    ByteString lineBuffer_;  // the line handed out last
    uint64_t passedOver_ = 0;
};

// The header as its lines, the first line included, and one record as its
// line, LF included, and back (false: no record).
void AppendJournalHeader(ByteString& lines, const JournalHeader& header);
void AppendJournalLine(ByteString& line, const JournalRecord& record);
bool ParseJournalLine(std::string_view line, JournalRecord& record);
