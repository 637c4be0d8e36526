#pragma once
// The journal of the last batch: what it did to each file, written as it
// goes, so that undo can take it back, also after a crash or a kill.
//
// One record a line, code page 932, each ended by LF; the fields are
// separated by TAB, and "%", TAB, CR and LF inside a path are written as
// "%25", "%09", "%0D" and "%0A" (none of these bytes is ever the second byte
// of a double-byte character, so a byte scan finds them).  A line cut short
// at the end of the file (a kill while it was written) is no record.
#include <cstddef>
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
    RemovedFolder = 'F',  // an emptied folder the batch removed; recreated
};

struct JournalRecord {
    JournalKind kind = JournalKind::Moved;
    ByteString source;       // the file's old path, or the removed folder's path
    ByteString destination;  // the file's new path (for Deleted: the name it would have had)
    // The first bytes of source that the batch reached by path (a dropped
    // folder, or a dropped file's folder with its separator); everything
    // after them it reached through open folders, never through a link.
    size_t reachedByPath = 0;
    FileStamp placed;  // Moved and Copied: the file as it was placed
};

// What a batch reports as it acts, each step once it has happened.
class BatchRecorder {
public:
    virtual ~BatchRecorder() = default;
    // The batch starts to act: the record of the one before is replaced.
    virtual void Begin() = 0;
    virtual void Record(const JournalRecord& record) = 0;
};

// The recorder of the program: the journal file.  Each record is handed to
// the system as soon as its file is placed (one write each: a few per cent of
// a batch of small files), so a batch cut short by a crash or a kill can be
// undone as far as it got; a record cut short by the kill is ignored by the
// reader.  A journal that cannot be written leaves the batch as it is; undo
// then covers what was written.
class JournalWriter : public BatchRecorder {
public:
    explicit JournalWriter(ByteString path) : path_(std::move(path)) {}
    JournalWriter(const JournalWriter&) = delete;
    JournalWriter& operator=(const JournalWriter&) = delete;

    void Begin() override;
    void Record(const JournalRecord& record) override;

private:
    ByteString path_;
    AppendFile file_;
    ByteString line_;  // the record's line (its buffer reused)
};

// The journal's name in the folder of the settings file.
extern const char kJournalFileName[];

// Every complete record of the journal, oldest first; none when it cannot be
// read.
std::vector<JournalRecord> ReadJournal(const ByteString& path);

// Whether the journal holds any complete record.
bool JournalHasRecords(const ByteString& path);

// Empties the journal: there is nothing to undo any more.
void EmptyJournal(const ByteString& path);

// Keeps only the first count records in the journal (an undo stopped part-way
// has taken back the newer ones), replacing it in one step; none: empties it.
// A journal that cannot be rewritten stays as it was.
void KeepInJournal(const ByteString& path, const std::vector<JournalRecord>& records, size_t count);

// One record as its line, LF included, and back (false: no record).
void AppendJournalLine(ByteString& line, const JournalRecord& record);
bool ParseJournalLine(const ByteString& line, JournalRecord& record);
