#include "batch/batch_run.h"

#include <algorithm>
#include <utility>

#include "text/cp932_scan.h"

namespace {

const ByteString& AskText() {
    static const ByteString text = Cp932(u8"実行しますか？");
    return text;
}

// How many files are worked on at once: enough to keep a file server that
// waits a round trip for each request busy, few enough that a stop, or a
// server that went away, finds little handed over.
constexpr int kFilesAtOnce = 8;
// Files up to this size take a few round trips each, and are worked on
// several at once; larger ones one after another.
constexpr int64_t kSmallFile = int64_t{1} << 20;

const ByteString& AskCaption(int32_t mode) {
    static const ByteString move = Cp932(u8"移動処理");
    static const ByteString copy = Cp932(u8"コピー処理");
    return mode == 0 ? move : copy;
}

}  // namespace

size_t NameStartOf(const ByteString& path) {
    size_t start = 0;
    for (size_t i = 0; i < path.size(); i += Cp932CharLength(path, i)) {
        if (path[i] == kPathSeparator || path[i] == '/') start = i + 1;
    }
    return start;
}

BatchRun::BatchRun(DropSettings& settings, BatchState& state, NameProgram& program, NameRandom& random,
                   BatchHost& host, Clock clock, ByteString logFolder, BatchRecorder* recorder)
    : settings_(settings),
      state_(state),
      program_(program),
      random_(random),
      host_(host),
      clock_(std::move(clock)),
      tally_(settings, state, host, std::move(logFolder)),
      recorder_(recorder) {}

bool BatchRun::StopRequested() {
    if (!tally_.StopRequested()) return false;
    // The files at work are finished; those not yet begun stay as they are.
    Files().DropWaiting();
    return true;
}

InOrderFiles& BatchRun::Files() {
    if (!files_) {
        files_ = std::make_unique<InOrderFiles>(
            kFilesAtOnce, [this](const ByteString& file, int64_t bytes, int64_t size) { tally_.AtWork(file, bytes, size); });
    }
    return *files_;
}

void BatchRun::RunBatch(const std::vector<DroppedPath>& paths) {
    tally_.Reset();
    destinationLost_ = false;
    lastDroppedFileFolder_.clear();
    program_.clear();
    // A format that does not compile has shown its message and leaves the
    // program empty: every file then gets an empty name, and fails visibly.
    CompileNameFormat(settings_.m_sFileNameFormat, program_, host_);

    if (!host_.AskYesNo(AskText(), AskCaption(settings_.m_nMode))) return;
    if (settings_.m_sWhere.empty()) {
        static const ByteString text = Cp932(u8"格納先を指定してください");
        static const ByteString caption = Cp932(u8"警告");
        host_.ShowMessage(text, caption);
        return;
    }

    if (recorder_ && !BeginRecording(paths)) return;
    CreateFolderChain(settings_.m_sWhere);
    destinationId_ = FileIdOf(settings_.m_sWhere);
    leftAloneIds_.clear();
    ownFileIds_.clear();
    for (const ByteString& folder : leftAlone_) {
        if (const std::optional<FileId> id = FileIdOf(folder)) leftAloneIds_.push_back(*id);
        const ByteString prefix = WithoutTrailingSeparator(folder) + kPathSeparator;
        for (const ByteString& name : ownFileNames_) {
            if (const std::optional<FileId> id = FileIdOf(prefix + name)) ownFileIds_.push_back(*id);
        }
    }

    // Each dropped path counts as one file until its folder is listed.
    tally_.Known(static_cast<int32_t>(paths.size()));
    for (const DroppedPath& dropped : paths) {
        if (StopRequested()) break;  // between files: the rest is not touched
        ProcessDroppedPath(dropped);
    }
    FinishBatch();
}

void BatchRun::ProcessFile(const ByteString& source, bool convertible) {
    HandOverFile(source, convertible);
    Files().Finish();
}

bool BatchRun::BeginRecording(const std::vector<DroppedPath>& paths) {
    // The header: the only places undo may act in.
    JournalHeader header;
    header.destination = settings_.m_sWhere;
    if (header.destination.back() != kPathSeparator) header.destination += kPathSeparator;
    for (const DroppedPath& dropped : paths)
        if (dropped.convertible) header.dropped.push_back(dropped.path);
    switch (recorder_->Begin(header)) {
    case RecorderStart::Recording: return true;
    case RecorderStart::Busy: tally_.ShowBusy(); return false;
    case RecorderStart::NotRecording: break;
    }
    static const ByteString text = Cp932(u8"元に戻すための記録を作れません。元に戻せないまま実行しますか？");
    if (!host_.AskYesNo(text, AskCaption(settings_.m_nMode))) return false;
    recorder_->DropPrevious();
    return true;
}

void BatchRun::ProcessDroppedPath(const DroppedPath& dropped) {
    if (!dropped.convertible) {
        HandOverFile(dropped.path, false);
        return;
    }
    switch (KindOf(dropped.path)) {
    case EntryKind::Folder:
    case EntryKind::Missing:  // cannot be opened: a vanished path contributes nothing
        ProcessDirectory(dropped.path);
        break;
    case EntryKind::FolderLink:
        // Dropped on purpose, so its folder is walked (links inside it are
        // not followed); the link itself is never removed.
        WalkTree(dropped.path, false);
        break;
    case EntryKind::File:
        HandOverFile(dropped.path);
        break;
    case EntryKind::Special:
        HandOverFile(dropped.path, false);
        break;
    }
}

void BatchRun::ProcessDirectory(const ByteString& folder) {
    WalkTree(folder, true);
    Files().Finish();
}

// One folder of a walk: held open while its entries are handled, so that
// whatever happens to its path meanwhile, they are only ever its own.
struct BatchRun::WalkFrame {
    std::shared_ptr<OpenFolder> folder;  // shared with the work on its files
    ByteString path;          // for the new names and the logs
    ByteString nameInParent;  // empty for the dropped folder
    // The whole listing, read before any entry is handled: some file systems
    // list a name twice when the folder changes while it is being read, and
    // our own moves change it.
    std::vector<FolderEntry> entries;
    size_t next = 0;
};

void BatchRun::WalkTree(const ByteString& root, bool removeRoot) {
    std::vector<WalkFrame> stack;
    auto rootFolder = std::make_shared<OpenFolder>(OpenFolder::Open(root));
    if (!rootFolder->IsOpen()) {
        if (!rootFolder->Vanished()) CountUnlistedFolder(root);
        return;
    }
    tally_.Known(-1);  // a folder, not a file: its listing tells its files
    if (IsLeftAlone(rootFolder->Id())) return;
    EnterFolder(std::move(rootFolder), root, nullptr, stack);

    ByteString child;
    // A stop leaves the folders still open as they are: none of them is removed.
    while (!stack.empty() && !StopRequested()) {
        WalkFrame& top = stack.back();
        if (top.next == top.entries.size()) {
            LeaveFolder(stack, removeRoot);
            continue;
        }
        const FolderEntry& entry = top.entries[top.next++];
        child.assign(top.path);
        child += kPathSeparator;
        child += entry.name;
        const std::shared_ptr<const OpenFolder> held = top.folder;
        const FileAt file{held, entry.name};
        if (!entry.convertible) {
            // Only the "?" form of its name is known: nothing may be touched in its place.
            ProcessFileAt(child, file, false);
            continue;
        }
        switch (entry.kind) {
        case EntryKind::Folder: {
            auto folder = std::make_shared<OpenFolder>(top.folder->OpenChild(entry));
            if (!folder->IsOpen()) {
                // Gone since the listing: nothing to do.  Replaced by a link,
                // or not to be opened: it is left alone, and says so.
                if (!folder->Vanished()) CountUnlistedFolder(child);
            } else if ((!destinationId_ || folder->Id() != *destinationId_) && !IsLeftAlone(folder->Id())) {
                EnterFolder(std::move(folder), child, &entry, stack);  // top is no longer valid
            }
            break;
        }
        case EntryKind::FolderLink:
            break;  // never followed: it may lead to an ancestor, or out of the drop
        case EntryKind::Special:
            ProcessFileAt(child, file, false);  // a FIFO or device is never opened
            break;
        case EntryKind::File:
        case EntryKind::Missing:  // gone since the listing: its move fails and is logged
            ProcessFileAt(child, file, true);
            break;
        }
    }
}

void BatchRun::EnterFolder(std::shared_ptr<OpenFolder> folder, ByteString path, const FolderEntry* entry,
                           std::vector<WalkFrame>& stack) {
    WalkFrame frame{std::move(folder), std::move(path), entry ? entry->name : ByteString(), {}, 0};
    if (!frame.folder->List(frame.entries)) {
        CountUnlistedFolder(frame.path);
        return;
    }
    int32_t files = 0;
    for (const FolderEntry& listed : frame.entries)
        files += listed.kind != EntryKind::Folder && listed.kind != EntryKind::FolderLink ? 1 : 0;
    tally_.Known(files);
    RecordFolder(JournalKind::EnteredFolder, frame.path, *frame.folder);
    stack.push_back(std::move(frame));
}

// A folder whose entries are all handled: removed when the rule says so and
// it ended up empty, before the walk goes on in its parent.
void BatchRun::LeaveFolder(std::vector<WalkFrame>& stack, bool removeRoot) {
    WalkFrame done = std::move(stack.back());
    stack.pop_back();
    const bool isRoot = stack.empty();
    if (settings_.m_bDeleteDerectory != 1 || (isRoot && !removeRoot)) return;
    // Whether it ended up empty is known once the work on its files ended.
    Files().Finish();
    if (!done.folder->IsEmpty().value_or(false)) return;
    const FileId id = done.folder->Id();
    // What it was, recorded before it goes: undo makes it again like this.
    if (recorder_) RecordFolder(JournalKind::RemovedFolder, done.path, *done.folder);
    done.folder.reset();  // an open folder cannot be removed on every system
    const bool removed =
        isRoot ? RemoveFolder(done.path) : stack.back().folder->RemoveFolder(done.nameInParent, id);
    if (removed && recorder_) recorder_->Record(record_);
}

// Fills record_ for a folder; recorded in the order of the files unless it is
// a removal, which is recorded only once done.
void BatchRun::RecordFolder(JournalKind kind, const ByteString& path, const OpenFolder& folder) {
    if (!recorder_) return;
    record_.kind = kind;
    record_.source = path;
    record_.destination.clear();
    record_.placed = record_.original = FileStamp{};
    record_.folder = folder.Id();
    record_.mode = folder.Mode();
    record_.owner = folder.Owner();
    if (kind != JournalKind::RemovedFolder)
        Files().Then([this, record = record_] { recorder_->Record(record); });
}

void BatchRun::HandOverFile(const ByteString& source, bool convertible) {
    // A dropped file: its folder is reached by path, and opened as the walk
    // opens a folder it enters; the file is reached through it by name.  A
    // folder that cannot be opened fails the file, untouched.
    const size_t nameStart = NameStartOf(source);
    const ByteString name = source.substr(nameStart);
    const ByteString folderPath = nameStart == 0 ? ByteString(".") : source.substr(0, nameStart);
    auto folder = std::make_shared<OpenFolder>();
    if (convertible && !name.empty()) *folder = OpenFolder::Open(folderPath);
    if (folder->IsOpen() && IsLeftAlone(folder->Id())) {
        const std::optional<FileStamp> stamp = folder->StampOf(name);
        if (stamp && std::find(ownFileIds_.begin(), ownFileIds_.end(), stamp->id) != ownFileIds_.end()) return;
    }
    if (folder->IsOpen() && folderPath != lastDroppedFileFolder_) {
        // Recorded once for the files dropped from one folder in a row.
        lastDroppedFileFolder_ = folderPath;
        RecordFolder(JournalKind::EnteredFolder, folderPath, *folder);
    }
    const std::shared_ptr<const OpenFolder> held = std::move(folder);
    ProcessFileAt(source, FileAt{held, name}, convertible && held->IsOpen());
}

const ByteString& BatchRun::DestinationFolder() {
    ByteString& where = settings_.m_sWhere;
    // Read by characters: a name ending in ソ or 表 (second byte 0x5C) still needs one.
    if (!where.empty() && !EndsWithCharacter(where, kPathSeparator)) where += kPathSeparator;
    return where;
}

void BatchRun::ProcessFileAt(const ByteString& source, const FileAt& file, bool convertible) {
    tally_.Begins(source);
    NameContext context{settings_.m_sFileNameFormat, state_.m_nSerial, random_, clock_, ToLocalDateTime, host_};
    const ByteString name = BuildTargetName(program_, source, context);

    // Without a destination (only possible when called outside RunBatch) the
    // separator would turn the name into one at the root: touch nothing.
    // Nor once the destination stopped answering.
    const bool touchable = convertible && !settings_.m_sWhere.empty() && !destinationLost_;
    destination_.assign(DestinationFolder());
    destination_ += name;

    if (!touchable) {
        TellFailed(source, destination_);
    } else if (IsSmall(file)) {
        DisposeOfSmallFile(source, file);
    } else {
        MoveOrCopy(source, file);
    }
}

bool BatchRun::IsSmall(const FileAt& file) const {
    if (settings_.m_bFileDontMove != 1) return false;
    // A size that cannot be read is never small: the file is moved or copied
    // as usual, so it is never deleted unmeasured.
    const std::optional<int64_t> size = file.folder->FileSizeOf(file.name);
    return size && *size / 1000 < static_cast<int64_t>(settings_.m_nKBytes);
}

void BatchRun::DisposeOfSmallFile(const ByteString& source, const FileAt& file) {
    const int32_t rule = settings_.m_nDontMoveMode;
    const bool removed = rule == 0 && file.folder->RemoveFile(file.name);
    Files().Then([this, rule, removed, source, destination = destination_] {
        tally_.Counted();
        if (rule == 0 && removed) {
            tally_.Succeeded();
            Record(JournalKind::Deleted, source, destination);
        } else if (rule == 0) {
            tally_.Failed(source, destination);
        } else if (rule == 1) {
            tally_.Succeeded();  // left where it is
        }  // no rule chosen: the file only counts in the total
        tally_.ShowCountsInTitle();
    });
}

void BatchRun::MoveOrCopy(const ByteString& source, const FileAt& file) {
    if (settings_.m_nMode == 0) {
        Move(source, file);
    } else {
        Copy(source, file);
    }
}

// What the work on a file leaves for its report.
struct BatchRun::Outcome {
    bool placed = false;
    std::optional<FileStamp> stamp;
};

void BatchRun::Move(const ByteString& source, const FileAt& file) {
    auto outcome = std::make_shared<Outcome>();
    InOrderFiles::Work work = [this, outcome, folder = file.folder, name = file.name, destination = destination_,
                               where = settings_.m_sWhere](CopyProgress& progress) {
        // A file handed over before the destination was found gone is not
        // tried: each try could wait long for a server that is not there.
        if (destinationLost_) return;
        outcome->placed = folder->MoveNoOverwrite(name, destination, &progress, &outcome->stamp);
        if (!outcome->placed && FolderUnreachable(where)) destinationLost_ = true;
    };
    InOrderFiles::Report report = [this, outcome, source, destination = destination_] {
        TellPlaced(source, destination, outcome->placed, JournalKind::Moved, outcome->stamp, std::nullopt);
    };
    HandOver(source, file, std::move(work), std::move(report), false);
}

void BatchRun::Copy(const ByteString& source, const FileAt& file) {
    // A copy is undone only while its source is as it was copied: what the
    // copy read, taken before it read it.
    std::optional<FileStamp> original;
    if (recorder_) original = file.folder->ContentStampOf(file.name);
    // A copy that replaces a file cannot be undone.  It is made on its own,
    // after everything handed over before it: what is at its name may be a
    // link to another name, which a copy writes through.
    const bool replacing = FileExists(destination_);
    auto outcome = std::make_shared<Outcome>();
    InOrderFiles::Work work = [this, outcome, folder = file.folder, name = file.name, destination = destination_,
                               where = settings_.m_sWhere, stamped = recorder_ != nullptr](CopyProgress& progress) {
        if (destinationLost_) return;
        outcome->placed = folder->CopyOverwrite(name, destination, &progress);
        if (!outcome->placed && FolderUnreachable(where)) destinationLost_ = true;
        if (outcome->placed && stamped) outcome->stamp = FileStampOf(destination);
    };
    InOrderFiles::Report report = [this, outcome, source, destination = destination_,
                                   kind = replacing ? JournalKind::CopiedOver : JournalKind::Copied, original] {
        TellPlaced(source, destination, outcome->placed, kind, outcome->stamp, original);
    };
    HandOver(source, file, std::move(work), std::move(report), replacing);
}

void BatchRun::HandOver(const ByteString& source, const FileAt& file, InOrderFiles::Work work, InOrderFiles::Report report, bool alone) {
    const ByteString key = NameKey(destination_.substr(settings_.m_sWhere.size()));
    if (alone) Files().Finish();
    // Within one file system a move is a rename, done sooner than handed
    // over; a large file is copied on its own, at the full speed of the line.
    const std::optional<int64_t> size = file.folder->FileSizeOf(file.name);
    if (alone || (destinationId_ && file.folder->Id().volume == destinationId_->volume) || !size ||
        *size > kSmallFile) {
        Files().AddNow(key, work, tally_, std::move(report));
    } else {
        Files().Add(source, key, std::move(work), std::move(report));
    }
}

void BatchRun::TellPlaced(const ByteString& source, const ByteString& destination, bool placed, JournalKind kind,
                          const std::optional<FileStamp>& stamp, const std::optional<FileStamp>& original) {
    tally_.Counted();
    if (placed) {
        tally_.Succeeded(source, destination);
        Record(kind, source, destination, stamp, original);
    } else {
        tally_.Failed(source, destination);
    }
    tally_.ShowCountsInTitle();
}

void BatchRun::TellFailed(const ByteString& source, const ByteString& destination) {
    Files().Then([this, source, destination] {
        tally_.Counted();
        tally_.Failed(source, destination);
        tally_.ShowCountsInTitle();
    });
}

void BatchRun::Record(JournalKind kind, const ByteString& source, const ByteString& destination,
                      const std::optional<FileStamp>& placed, const std::optional<FileStamp>& original) {
    if (!recorder_) return;
    // A placed file, or the source of a copy, whose stamp cannot be read could
    // never be recognised: recorded as one that cannot be undone.
    if ((kind == JournalKind::Moved && !placed) || (kind == JournalKind::Copied && (!placed || !original)))
        kind = JournalKind::CopiedOver;
    record_.kind = kind;
    record_.source = source;
    record_.destination = destination;
    record_.placed = placed.value_or(FileStamp{});
    record_.original = original.value_or(FileStamp{});
    record_.folder = FileId{};
    record_.mode = record_.owner = 0;
    recorder_->Record(record_);
}

// A folder that exists but cannot be walked (no permission, an I/O error,
// replaced by a link since it was listed) counts once, as a failure.
void BatchRun::CountUnlistedFolder(const ByteString& folder) { TellFailed(folder, DestinationFolder()); }

bool BatchRun::IsLeftAlone(const FileId& folder) const {
    return std::find(leftAloneIds_.begin(), leftAloneIds_.end(), folder) != leftAloneIds_.end();
}

void BatchRun::FinishBatch() {
    Files().Finish();
    if (recorder_ && recorder_->LostRecords() > 0) tally_.WarnUnrecorded(recorder_->LostRecords());
    if (destinationLost_) {
        static const ByteString text = Cp932(u8"移動先に接続できなくなったため、残りのファイルは処理していません。");
        tally_.Warn(text);
    }
    tally_.Finish(LabelledCounts(
        {{u8"成功：", state_.m_nSuccess}, {u8"　失敗：", state_.m_nFailure}, {u8"　トータル：", state_.m_nTotal}}));
}
