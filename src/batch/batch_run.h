#pragma once
// One batch: what a drop onto the main window sets off.
#include <atomic>
#include <memory>
#include <optional>
#include <vector>

#include "batch/batch_host.h"
#include "batch/batch_state.h"
#include "batch/clock.h"
#include "batch/in_order_files.h"
#include "batch/journal.h"
#include "batch/run_tally.h"
#include "fs/folders.h"
#include "text/byte_string.h"
#include "naming/name_engine.h"
#include "settings/drop_settings.h"

// A dropped path.  A path that has no code page 932 form reaches the batch
// with convertible false and its unconvertible characters shown as "?"; it is
// counted and logged as a failure, and nothing is touched in its place.
struct DroppedPath {
    ByteString path;
    bool convertible = true;
};

// Where the name of a path starts: just after its last separator (the
// platform's, or "/"), found by a scan that steps over double-byte
// characters, whose second byte may be "\"; 0 when it has none.
size_t NameStartOf(const ByteString& path);

// Runs batches on the window's settings, state and name program, in place.
class BatchRun {
public:
    // logFolder is where "change.log" and "error.log" live, without a trailing
    // separator (the folder of the settings file, ChooseDataFolder, in the program).
    // recorder, when given, hears of every folder entered, file placed or
    // deleted and folder removed, as it happens (the journal for undo); its
    // Begin may stop the batch before it acts: another batch or undo runs
    // (says so), or no journal can be written and the user says No to going
    // on without one.
    BatchRun(DropSettings& settings, BatchState& state, NameProgram& program, NameRandom& random,
             BatchHost& host, Clock clock, ByteString logFolder, BatchRecorder* recorder = nullptr);

    // The program's own folders (its folder, and the one of its settings,
    // logs and journal), which hold its files: a drop never walks them,
    // whether dropped itself or met inside a dropped folder.  A file dropped
    // from one of them is left alone when it is one of the program's files,
    // by the names given (the program, its settings, logs and journal), and
    // handled as any other file otherwise: a portable copy in a downloads
    // folder leaves the user's other files there to be filed.  Recognised by
    // identity, as the destination is, and skipped as it is: without a count.
    void LeaveAlone(std::vector<ByteString> folders, std::vector<ByteString> ownFileNames) {
        leftAlone_ = std::move(folders);
        ownFileNames_ = std::move(ownFileNames);
    }

    void RunBatch(const std::vector<DroppedPath>& paths);

    // Walks a dropped folder and, when the rule says so, removes it if it
    // ends up empty.  Every folder's whole listing is read before any entry
    // is processed, links to folders are never followed, special files never
    // opened, and the destination folder is skipped when met.
    void ProcessDirectory(const ByteString& folder);
    // Disposes of one dropped file, through its folder opened as the walk
    // opens the folders it enters.  convertible false: the path is only the
    // "?" form of a name without a code page 932 form; it is counted and
    // logged as a failure and nothing is touched.
    void ProcessFile(const ByteString& source, bool convertible = true);
    // Appends the logs (a FileError from a failing write is not caught) and
    // shows the totals.
    void FinishBatch();

private:
    // Where a file is reached: by name through its open folder (the folder
    // of a dropped file, or one the walk entered), held for as long as the
    // file's work needs it.
    struct FileAt {
        const std::shared_ptr<const OpenFolder>& folder;
        const ByteString& name;
    };
    struct WalkFrame;

    InOrderFiles& Files();
    // Whether the user asked to stop; if so, files handed over but not begun
    // are dropped.
    bool StopRequested();
    void ProcessDroppedPath(const DroppedPath& dropped);
    // Hands over one dropped file (ProcessFile without waiting for its end).
    void HandOverFile(const ByteString& source, bool convertible = true);
    // Walks a tree without recursion, every folder held open while its
    // entries are handled, deepest folders first for the removal of emptied
    // ones.  removeRoot: the dropped folder itself may be removed.
    void WalkTree(const ByteString& root, bool removeRoot);
    // Lists one opened folder of the walk and puts it on the stack; a folder
    // that exists but cannot be opened or listed counts as one failure.
    void EnterFolder(std::shared_ptr<OpenFolder> folder, ByteString path, const FolderEntry* entry,
                     std::vector<WalkFrame>& stack);
    void LeaveFolder(std::vector<WalkFrame>& stack, bool removeRoot);
    void ProcessFileAt(const ByteString& source, const FileAt& file, bool convertible);
    bool IsSmall(const FileAt& file) const;
    void DisposeOfSmallFile(const ByteString& source, const FileAt& file);
    void MoveOrCopy(const ByteString& source, const FileAt& file);
    struct Outcome;
    void Move(const ByteString& source, const FileAt& file);
    void Copy(const ByteString& source, const FileAt& file);
    // Hands the work on a file over to be done elsewhere, or does it at once
    // (alone: after everything handed over before has ended).
    void HandOver(const ByteString& source, const FileAt& file, InOrderFiles::Work work,
                  InOrderFiles::Report report, bool alone);
    // Tells a file's end, in the order of the files: counted, its log line
    // and its record (kind, when placed), and the title.
    void TellPlaced(const ByteString& source, const ByteString& destination, bool placed, JournalKind kind,
                    const std::optional<FileStamp>& stamp, const std::optional<FileStamp>& original);
    void TellFailed(const ByteString& source, const ByteString& destination);
    void CountUnlistedFolder(const ByteString& folder);
    bool IsLeftAlone(const FileId& folder) const;
    // m_sWhere with one separator at its end (added to the setting itself).
    const ByteString& DestinationFolder();
    void Record(JournalKind kind, const ByteString& source, const ByteString& destination,
                const std::optional<FileStamp>& placed = std::nullopt,
                const std::optional<FileStamp>& original = std::nullopt);
    void RecordFolder(JournalKind kind, const ByteString& path, const OpenFolder& folder);
    // Starts the journal; false when the batch must not act: another one
    // runs (said so), or no journal can be written and the user said No.
    bool BeginRecording(const std::vector<DroppedPath>& paths);

    DropSettings& settings_;
    BatchState& state_;
    NameProgram& program_;
    NameRandom& random_;
    BatchHost& host_;
    Clock clock_;
    RunTally tally_;
    // The files at work, told in order; only during RunBatch.
    std::unique_ptr<InOrderFiles> files_;
    // The destination stopped answering: the files not yet handed over fail
    // untouched.  Set by the workers.
    std::atomic<bool> destinationLost_{false};
    BatchRecorder* recorder_;
    JournalRecord record_;  // reused from file to file
    ByteString lastDroppedFileFolder_;  // recorded as entered last

    // The destination's identity once it has been created, so that a walk
    // that meets it inside a dropped folder can leave it alone.
    std::optional<FileId> destinationId_;
    // The program's own folders, and their identities during a batch.
    std::vector<ByteString> leftAlone_;
    std::vector<FileId> leftAloneIds_;
    std::vector<ByteString> ownFileNames_;
    std::vector<FileId> ownFileIds_;  // the program's files in those folders
    // Buffers reused from file to file: a batch of many files allocates
    // nothing per file for them.
    ByteString destination_;
};
