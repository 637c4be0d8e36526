#include "batch/undo_run.h"

#include <algorithm>
#include <utility>

#include "batch/batch_run.h"

namespace {

bool IsSeparator(char b) { return b == kPathSeparator || b == '/'; }

// Calls visit(start, end) for each name of path from byte from on, between
// separators (a scan that steps over double-byte characters); false as soon
// as visit does.
template <typename Visit>
bool ForEachName(const ByteString& path, size_t from, Visit&& visit) {
    size_t start = from;
    for (size_t i = from; i <= path.size(); ++i) {
        if (i == path.size() || IsSeparator(path[i])) {
            if (!visit(start, i)) return false;
            start = i + 1;
        } else if (IsCp932LeadByte(static_cast<unsigned char>(path[i])) && i + 1 < path.size()) {
            ++i;
        }
    }
    return true;
}

// No name of path after byte from is "." or "..", nor made only of dots and
// blanks (which Windows path rules shorten to those): the path cannot climb
// out of the part before it.
bool StaysBelow(const ByteString& path, size_t from) {
    return ForEachName(path, from, [&](size_t start, size_t end) {
        const std::string_view name = std::string_view(path).substr(start, end - start);
        return name.empty() || name.find_first_not_of(". ") != std::string_view::npos;
    });
}

}  // namespace

UndoRun::UndoRun(const DropSettings& settings, BatchState& state, BatchHost& host, ByteString logFolder,
                 ByteString journalPath)
    : state_(state),
      host_(host),
      tally_(settings, state, host, std::move(logFolder)),
      journalPath_(std::move(journalPath)) {}

void UndoRun::Run() {
    if (!JournalHasRecords(journalPath_)) return;
    if (!host_.AskYesNo(Cp932(u8"直前の処理を元に戻しますか？"), Cp932(u8"元に戻す"))) return;
    ProgramLock::Outcome outcome;
    const ProgramLock lock = LockJournal(journalPath_, outcome);
    if (outcome == ProgramLock::Outcome::Busy) {
        tally_.ShowBusy();
        return;
    }
    // Read again under the lock: another window may have acted meanwhile.
    JournalReader reader;
    if (!reader.Open(journalPath_)) return;
    header_ = reader.Header();
    dropped_ = std::unordered_set<ByteString>(header_.dropped.begin(), header_.dropped.end());
    JournalRecord record;
    while (reader.Next(record, true)) {
        known_[record.source] = KnownFolder{record.folder, record.mode, record.owner,
                                            record.kind == JournalKind::RemovedFolder};
    }

    tally_.Reset();
    tally_.Known(static_cast<int32_t>(std::min<uint64_t>(reader.PassedOver(), INT32_MAX)));
    std::vector<LineAt> kept;
    LineAt line{};
    bool stopped = false;
    while (reader.Previous(record, line.offset, line.length)) {
        // After a stop the records not reached stay as they are; the folders
        // the batch saw are written again with the rest (KeepOnly).
        stopped = stopped || tally_.StopRequested();
        if (stopped ? record.kind != JournalKind::EnteredFolder : Undo(record) == Outcome::Passing) kept.push_back(line);
    }
    placedFolder_ = OpenFolder();
    sourceFolder_ = OpenFolder();
    KeepOnly(reader, kept);
    tally_.Finish(LabelledCounts({{u8"戻した：", state_.m_nSuccess}, {u8"　戻せない：", state_.m_nFailure}}));
}

UndoRun::Outcome UndoRun::Undo(const JournalRecord& record) {
    switch (record.kind) {
    case JournalKind::EnteredFolder: return Outcome::Undone;  // only what the batch saw
    case JournalKind::RemovedFolder: return RecreateFolder(record);  // not a file: not counted
    default: break;
    }
    tally_.Begins(record.destination);
    tally_.Counted();
    Outcome outcome = Outcome::Impossible;  // a copy over a file, a deleted file: what was there is gone
    if (record.kind == JournalKind::Moved) outcome = MoveBack(record);
    if (record.kind == JournalKind::Copied) outcome = RemoveCopy(record);
    if (outcome != Outcome::Undone) {
        tally_.Failed(record.destination, record.source);
    } else if (record.kind == JournalKind::Moved) {
        tally_.Succeeded(record.destination, record.source);
    } else {
        tally_.Succeeded();
    }
    tally_.ShowCountsInTitle();
    return outcome;
}

// ---------------------------------------------------------------------------
// Where a record may act

bool UndoRun::WithinDestination(const ByteString& path) const {
    const ByteString& folder = header_.destination;
    return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
           !IsSeparator(path.back()) && StaysBelow(path, folder.size());
}

bool UndoRun::RootLengthOf(const ByteString& path, bool isFolder, size_t& rootLength) const {
    if (dropped_.count(path)) {
        // The dropped folder itself, or a dropped file in its folder.
        rootLength = isFolder ? path.size() : NameStartOf(path);
        return rootLength > 0;
    }
    // Within a dropped folder: the longest dropped path before a separator
    // (or ending in one, as a drive root does).
    size_t found = 0;
    ForEachName(path, 0, [&](size_t, size_t end) {
        if (end < path.size()) {
            if (dropped_.count(path.substr(0, end))) found = end;
            if (dropped_.count(path.substr(0, end + 1))) found = end + 1;
        }
        return true;
    });
    rootLength = found;
    return found > 0 && StaysBelow(path, found);
}

// ---------------------------------------------------------------------------
// Files

UndoRun::Outcome UndoRun::ReachEnds(const JournalRecord& record, bool createMissing, Ends& ends) {
    const size_t placedName = NameStartOf(record.destination);
    const size_t sourceName = NameStartOf(record.source);
    size_t rootLength = 0;
    if (!WithinDestination(record.destination) || !RootLengthOf(record.source, false, rootLength) ||
        sourceName == 0 || sourceName == record.source.size())
        return Outcome::Impossible;
    if (const Outcome outcome = PlacedFolder(record.destination.substr(0, placedName), ends.placed);
        outcome != Outcome::Undone)
        return outcome;
    ends.name = record.destination.substr(placedName);
    if (ends.placed->StampOf(ends.name) != record.placed) return Outcome::Impossible;  // changed or gone since

    // The folder part with its separator when the batch reached it by path.
    const ByteString folder = record.source.substr(0, std::max(rootLength, sourceName - 1));
    if (const Outcome outcome = SourceFolder(folder, rootLength, createMissing, ends.source);
        outcome != Outcome::Undone)
        return outcome;
    ends.sourceName = record.source.substr(sourceName);
    return Outcome::Undone;
}

UndoRun::Outcome UndoRun::MoveBack(const JournalRecord& record) {
    Ends ends;
    if (const Outcome outcome = ReachEnds(record, true, ends); outcome != Outcome::Undone) return outcome;
    if (ends.source->StampOf(ends.sourceName)) return Outcome::Impossible;  // its old name is taken
    return ends.placed->MoveNoOverwrite(ends.name, *ends.source, ends.sourceName, &tally_) ? Outcome::Undone
                                                                                          : Outcome::Passing;
}

UndoRun::Outcome UndoRun::RemoveCopy(const JournalRecord& record) {
    Ends ends;
    if (const Outcome outcome = ReachEnds(record, false, ends); outcome != Outcome::Undone) return outcome;
    // The copy may be all that is left of the data: it goes only while its
    // source is still there, unchanged.
    if (ends.source->ContentStampOf(ends.sourceName) != record.original) return Outcome::Impossible;
    return ends.placed->RemoveFile(ends.name) ? Outcome::Undone : Outcome::Passing;
}

// ---------------------------------------------------------------------------
// Folders

UndoRun::Outcome UndoRun::RecreateFolder(const JournalRecord& record) {
    size_t rootLength = 0;
    if (!RootLengthOf(record.source, true, rootLength)) return Outcome::Impossible;
    const OpenFolder* folder = nullptr;
    return SourceFolder(record.source, rootLength, true, folder);
}

UndoRun::Outcome UndoRun::PlacedFolder(const ByteString& path, const OpenFolder*& folder) {
    // A folder that failed to open is not tried again for the records after.
    if (path != placedFolderPath_ || placedFolderPath_.empty()) {
        placedFolderPath_ = path;
        placedFolder_ = OpenFolder::Open(path);
    }
    if (!placedFolder_.IsOpen()) return placedFolder_.Vanished() ? Outcome::Impossible : Outcome::Passing;
    folder = &placedFolder_;
    return Outcome::Undone;
}

// The folder the batch saw (the same identity and owner: a folder made since
// may have got the number of a removed one), one this undo created, or one
// of the user's alone.
bool UndoRun::Accepted(const ByteString& path, const OpenFolder& folder) const {
    const auto known = known_.find(path);
    return (known != known_.end() && !known->second.removed && known->second.id == folder.Id() &&
            known->second.owner == folder.Owner()) ||
           folder.OwnedByUserAlone();
}

void UndoRun::Remember(const ByteString& path, const OpenFolder& folder, uint32_t mode) {
    known_[path] = KnownFolder{folder.Id(), mode, folder.Owner(), false};
}

UndoRun::Outcome UndoRun::CreateRoot(const ByteString& root, OpenFolder& created) {
    size_t end = root.size();
    while (end > 0 && IsSeparator(root[end - 1])) --end;
    const ByteString trimmed = root.substr(0, end);
    const size_t nameStart = NameStartOf(trimmed);
    if (nameStart == 0 || nameStart == trimmed.size()) return Outcome::Impossible;
    // The parent was never touched by the batch: it is reached by path.
    const OpenFolder parent = OpenFolder::Open(trimmed.substr(0, nameStart));
    if (!parent.IsOpen()) return parent.Vanished() || parent.NotTheFolder() ? Outcome::Impossible : Outcome::Passing;
    const auto known = known_.find(root);
    const uint32_t mode = known == known_.end() ? 0 : known->second.mode;
    created = parent.CreateChild(trimmed.substr(nameStart), mode);
    if (!created.IsOpen()) return Outcome::Passing;
    Remember(root, created, mode);
    return Outcome::Undone;
}

UndoRun::Outcome UndoRun::SourceFolder(const ByteString& folder, size_t rootLength, bool create,
                                       const OpenFolder*& reached) {
    if (!sourceFolder_.IsOpen() || folder != sourceFolderPath_) {
        sourceFolder_ = OpenFolder();
        rootLength = std::min(rootLength, folder.size());
        // The dropped folder, or a dropped file's folder: by path, as the
        // batch reached it; created again when it is gone (the emptied-folder
        // rule may have removed it).
        const ByteString root = folder.substr(0, rootLength);
        OpenFolder open = OpenFolder::Open(root);
        if (!open.IsOpen()) {
            if (!open.Vanished()) return open.NotTheFolder() ? Outcome::Impossible : Outcome::Passing;
            if (!create) return Outcome::Impossible;
            if (const Outcome outcome = CreateRoot(root, open); outcome != Outcome::Undone) return outcome;
        } else if (!Accepted(root, open)) {
            return Outcome::Impossible;
        }
        // Then each folder after it, as a real folder of the one before.
        Outcome outcome = Outcome::Undone;
        ForEachName(folder, rootLength, [&](size_t start, size_t end) {
            if (end == start) return true;
            const ByteString path = folder.substr(0, end);
            const ByteString name = folder.substr(start, end - start);
            OpenFolder child = open.OpenChild(FolderEntry{name, true, EntryKind::Folder, 0});
            if (child.IsOpen()) {
                if (!Accepted(path, child)) outcome = Outcome::Impossible;
            } else if (child.NotTheFolder() || (child.Vanished() && !create)) {
                outcome = Outcome::Impossible;
            } else if (!child.Vanished()) {
                outcome = Outcome::Passing;
            } else {
                const auto known = known_.find(path);
                const uint32_t mode = known == known_.end() ? 0 : known->second.mode;
                child = open.CreateChild(name, mode);
                if (child.IsOpen()) {
                    Remember(path, child, mode);
                } else {
                    outcome = Outcome::Passing;
                }
            }
            open = std::move(child);
            return outcome == Outcome::Undone;
        });
        if (outcome != Outcome::Undone) return outcome;
        sourceFolderPath_ = folder;
        sourceFolder_ = std::move(open);
    }
    reached = &sourceFolder_;
    return Outcome::Undone;
}

// ---------------------------------------------------------------------------
// What is left

void UndoRun::KeepOnly(JournalReader& reader, const std::vector<LineAt>& kept) {
    if (kept.empty()) {
        reader = JournalReader();  // closed first: Windows removes no open file
        (void)RemoveOwnFile(journalPath_);
        return;
    }
    // The header, the folders as they are now (those this undo created under
    // their new identity), and the records left, oldest first.  Where this
    // cannot be written the old journal stays whole: what it names that was
    // undone is no longer as it recorded, and a later undo leaves that alone.
    const ByteString newPath = NewJournalPath(journalPath_);
    AppendFile file = AppendFile::CreateNew(newPath);
    ByteString text = reader.HeaderLines();
    bool written = file.IsOpen();
    const auto flush = [&](size_t atLeast) {
        if (written && text.size() >= atLeast) {
            written = file.Append(text);
            text.clear();
        }
    };
    JournalRecord folder;
    folder.kind = JournalKind::EnteredFolder;
    for (const auto& [path, known] : known_) {
        if (known.removed) continue;  // its record is among those left, where it was not made again
        folder.source = path;
        folder.folder = known.id;
        folder.mode = known.mode;
        folder.owner = known.owner;
        AppendJournalLine(text, folder);
        flush(64 * 1024);
    }
    ByteString line;
    for (auto at = kept.rbegin(); at != kept.rend() && written; ++at) {
        written = reader.LineAt(at->offset, at->length, line);
        text += line;
        flush(64 * 1024);
    }
    flush(0);
    reader = JournalReader();
    if (!written || !file.Rename(journalPath_)) {
        file = AppendFile();
        (void)RemoveOwnFile(newPath);
    }
}
