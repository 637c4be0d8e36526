#pragma once
// Undo of the last batch, from its journal.
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

    // Asks first; then takes back the journal's records newest first: a
    // moved file goes back to its old path (its folders recreated) if it is
    // still the file placed and that path is free; a copy under a new name
    // is removed if it is still the unchanged copy; folders the batch
    // removed are recreated.  Anything else stays and counts as not undone.
    // Stops between files when the host asks; the journal then keeps the
    // records not yet taken back.  Then empties the journal, appends the logs (a FileError from a failing
    // write is not caught) and shows the counts.  Nothing at all when the
    // journal holds no record.
    void Run();

private:
    void Undo(const JournalRecord& record);
    bool MoveBack(const JournalRecord& record);
    bool RemoveCopy(const JournalRecord& record);
    // The open folder of a placed file's path, reached as the batch reached
    // it (by path); nullptr when it cannot be opened.
    const OpenFolder* PlacedFolder(const ByteString& path);
    // The open folder that holds a source path (creating what is missing):
    // the part the batch reached by path is opened by path, every folder
    // after it as a real folder of the one before, never through a link.
    const OpenFolder* SourceFolder(const ByteString& folder, size_t reachedByPath);
    BatchState& state_;
    BatchHost& host_;
    RunTally tally_;
    ByteString journalPath_;

    // The last folders opened, kept for the records that follow: a batch
    // places its files in one folder and takes them from few.
    ByteString placedFolderPath_;
    OpenFolder placedFolder_;
    ByteString sourceFolderPath_;
    OpenFolder sourceFolder_;
};
