#pragma once
// One batch: what a drop onto the main window sets off.
#include <optional>
#include <vector>

#include "batch/batch_host.h"
#include "batch/batch_state.h"
#include "text/byte_string.h"
#include "fs/fs.h"
#include "naming/name_engine.h"
#include "settings/drop_settings.h"

// A dropped path.  A path that has no code page 932 form reaches the batch
// with convertible false and its unconvertible characters shown as "?"; it is
// counted and logged as a failure, and nothing is touched in its place.
struct DroppedPath {
    ByteString path;
    bool convertible = true;
};

// Runs batches on the window's settings, state and name program, in place.
class BatchRun {
public:
    // logFolder is where "change.log" and "error.log" live, without a trailing
    // separator (the folder of the settings file, DataFolderFor, in the program).
    BatchRun(DropSettings& settings, BatchState& state, NameProgram& program, NameRandom& random,
             BatchHost& host, Clock clock, ByteString logFolder);

    void RunBatch(const std::vector<DroppedPath>& paths);
    void RunBatch(const std::vector<ByteString>& paths);

    // Walks one folder: its whole listing is read before any entry is
    // processed, links to folders are never followed, special files never
    // opened, and the destination folder is skipped when met.
    void ProcessDirectory(const ByteString& folder);
    // Disposes of one file.  convertible false: the path is only the "?" form
    // of a name without a code page 932 form; it is counted and logged as a
    // failure and nothing is touched.
    void ProcessFile(const ByteString& source, bool convertible = true);
    // Appends the logs (a FileError from a failing write is not caught) and
    // shows the totals.
    void FinishBatch();

private:
    void ProcessDroppedPath(const DroppedPath& dropped);
    void WalkFolder(const ByteString& folder);
    void ProcessEntry(const ByteString& child, const FolderEntry& entry);
    bool IsDestination(const ByteString& folder) const;
    bool IsSmall(const ByteString& source) const;
    void DisposeOfSmallFile(const ByteString& source);
    void MoveOrCopy(const ByteString& source);
    void CountSuccess();
    void CountFailure(const ByteString& source);
    static void AppendLogLine(ByteString& log, const ByteString& source, const ByteString& destination);
    void ShowCountsInTitle();

    DropSettings& settings_;
    BatchState& state_;
    NameProgram& program_;
    NameRandom& random_;
    BatchHost& host_;
    Clock clock_;
    ByteString logFolder_;

    // The destination's identity once it has been created, so that a walk
    // that meets it inside a dropped folder can leave it alone.
    std::optional<FileId> destinationId_;
    // Buffers reused from file to file: a batch of many files allocates
    // nothing per file for them.
    ByteString destination_;
    ByteString title_;
};
