#pragma once
// Undo of the last batch, from its journal.
#include <cstdint>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "batch/batch_host.h"
#include "batch/batch_state.h"
#include "batch/journal.h"
#include "batch/run_tally.h"
#include "fs/folders.h"
#include "settings/drop_settings.h"
#include "text/byte_string.h"

class UndoRun {
public:
    // logFolder as for BatchRun; the counts and log lines go to state, and
    // the title and boxes to host.
    UndoRun(const DropSettings& settings, BatchState& state, BatchHost& host, ByteString logFolder,
            ByteString journalPath);

    // Nothing at all when the journal holds no record.  Asks first; then, as
    // the only batch or undo of the data folder (another one running: says
    // so and touches nothing), takes back the journal's records newest
    // first, each only where its paths lie within the destination and the
    // dropped paths of the journal's header:
    // - a moved file goes back if it is still the file placed and its old
    //   name is free, only into the folder it came from: every folder on the
    //   way is reached without following a link and must be the one the
    //   batch saw, one the undo itself created, or one that belongs to the
    //   user and no other user can write to;
    // - a copy under a new name is removed if it is still the unchanged copy
    //   and its source is still there, unchanged;
    // - folders the batch removed are created again, with the mode they had.
    // Anything else stays and counts as not undone.  Records that failed for
    // a passing reason (every check passed, but the file system refused the
    // move or the removal: a full disk, a file in use, no permission, an I/O
    // error) stay in the journal for a later undo; the others go.  A stop
    // asked for by the host comes between files: the records not reached yet
    // stay too.  Then appends the logs and shows the counts (RunTally::Finish).
    void Run();

private:
    enum class Outcome { Undone, Impossible, Passing };
    struct KnownFolder {
        FileId id;
        uint32_t mode = 0;
        uint32_t owner = 0;
        bool removed = false;  // by the batch: no folder there now is that one
    };
    // Where a record's line is in the journal.
    struct LineAt {
        uint64_t offset;
        size_t length;
    };

    Outcome Undo(const JournalRecord& record);
    // Both ends of a placed file's record: the file, still as it was placed,
    // in its open folder within the destination, and the open folder of its
    // old path (createMissing: folders on the way are made again).
    struct Ends {
        const OpenFolder* placed = nullptr;
        ByteString name;
        const OpenFolder* source = nullptr;
        ByteString sourceName;
    };
    Outcome ReachEnds(const JournalRecord& record, bool createMissing, Ends& ends);
    Outcome MoveBack(const JournalRecord& record);
    Outcome RemoveCopy(const JournalRecord& record);
    Outcome RecreateFolder(const JournalRecord& record);

    // The number of bytes of path that the batch reached by path, when the
    // path lies within a dropped path of the header: a dropped folder, or a
    // dropped file's folder with its separator; false otherwise.
    bool RootLengthOf(const ByteString& path, bool isFolder, size_t& rootLength) const;
    bool WithinDestination(const ByteString& path) const;

    // The open folder of a placed file's path, reached as the batch reached
    // it (by path).
    Outcome PlacedFolder(const ByteString& path, const OpenFolder*& folder);
    // The open folder of a source path: the part the batch reached by path
    // is opened by path, every folder after it as a real folder of the one
    // before, never through a link; each must be accepted (Accepted).  When
    // create, missing folders are created, with the mode the batch saw.
    Outcome SourceFolder(const ByteString& folder, size_t rootLength, bool create, const OpenFolder*& reached);
    Outcome CreateRoot(const ByteString& root, OpenFolder& created);
    bool Accepted(const ByteString& path, const OpenFolder& folder) const;
    // A folder this undo created.
    void Remember(const ByteString& path, const OpenFolder& folder, uint32_t mode);

    // What is left to undo later goes to a new journal in the old one's place.
    void KeepOnly(JournalReader& reader, const std::vector<LineAt>& kept);

    BatchState& state_;
    BatchHost& host_;
    RunTally tally_;
    ByteString journalPath_;

    JournalHeader header_;
    std::unordered_set<ByteString> dropped_;  // the header's dropped paths
    // The folders the batch took files from or removed, and those this undo
    // created, by path.
    std::unordered_map<ByteString, KnownFolder> known_;

    // The last folders opened, kept for the records that follow: a batch
    // places its files in one folder and takes them from few.
    ByteString placedFolderPath_;
    OpenFolder placedFolder_;
    ByteString sourceFolderPath_;
    OpenFolder sourceFolder_;
};
