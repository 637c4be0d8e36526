#include "batch/undo_run.h"

#include <algorithm>
#include <utility>

#include "batch/batch_run.h"

UndoRun::UndoRun(const DropSettings& settings, BatchState& state, BatchHost& host, ByteString logFolder,
                 ByteString journalPath)
    : state_(state),
      host_(host),
      tally_(settings, state, host, std::move(logFolder)),
      journalPath_(std::move(journalPath)) {}

void UndoRun::Run() {
    const std::vector<JournalRecord> records = ReadJournal(journalPath_);
    if (records.empty()) return;
    if (!host_.AskYesNo(Cp932(u8"直前の処理を元に戻しますか？"), Cp932(u8"元に戻す"))) return;

    tally_.Reset();
    for (const JournalRecord& record : records) tally_.Known(record.kind != JournalKind::RemovedFolder ? 1 : 0);
    // Newest first; a stop leaves the older records for a later undo.
    size_t left = records.size();
    for (; left > 0 && !tally_.StopRequested(); --left) Undo(records[left - 1]);
    placedFolder_ = OpenFolder();
    sourceFolder_ = OpenFolder();
    KeepInJournal(journalPath_, records, left);
    tally_.Finish(LabelledCounts({{u8"戻した：", state_.m_nSuccess}, {u8"　戻せない：", state_.m_nFailure}}));
}

void UndoRun::Undo(const JournalRecord& record) {
    if (record.kind == JournalKind::RemovedFolder) {
        // Not a file: recreated, and not counted.
        SourceFolder(record.source, record.reachedByPath);
        return;
    }
    tally_.Begins(record.destination);
    tally_.Counted();
    switch (record.kind) {
    case JournalKind::Moved:
        if (MoveBack(record)) {
            tally_.Succeeded(record.destination, record.source);
        } else {
            tally_.Failed(record.destination, record.source);
        }
        break;
    case JournalKind::Copied:
        if (RemoveCopy(record)) {
            tally_.Succeeded();
        } else {
            tally_.Failed(record.destination, record.source);
        }
        break;
    case JournalKind::CopiedOver:
    case JournalKind::Deleted:
    case JournalKind::RemovedFolder:
        tally_.Failed(record.destination, record.source);  // what was there before is gone
        break;
    }
    tally_.ShowCountsInTitle();
}

bool UndoRun::MoveBack(const JournalRecord& record) {
    const size_t placedName = NameStartOf(record.destination);
    const size_t sourceName = NameStartOf(record.source);
    if (placedName == 0 || sourceName == 0 || sourceName == record.source.size()) return false;
    const OpenFolder* placed = PlacedFolder(record.destination.substr(0, placedName));
    const ByteString name = record.destination.substr(placedName);
    if (!placed || placed->StampOf(name) != record.placed) return false;
    const OpenFolder* source = SourceFolder(record.source.substr(0, sourceName), record.reachedByPath);
    return source && placed->MoveNoOverwrite(name, *source, record.source.substr(sourceName), &tally_);
}

bool UndoRun::RemoveCopy(const JournalRecord& record) {
    const size_t placedName = NameStartOf(record.destination);
    if (placedName == 0) return false;
    const OpenFolder* placed = PlacedFolder(record.destination.substr(0, placedName));
    const ByteString name = record.destination.substr(placedName);
    return placed && placed->StampOf(name) == record.placed && placed->RemoveFile(name);
}

const OpenFolder* UndoRun::PlacedFolder(const ByteString& path) {
    if (!placedFolder_.IsOpen() || path != placedFolderPath_) {
        placedFolderPath_ = path;
        placedFolder_ = OpenFolder::Open(path);
    }
    return placedFolder_.IsOpen() ? &placedFolder_ : nullptr;
}

const OpenFolder* UndoRun::SourceFolder(const ByteString& folder, size_t reachedByPath) {
    if (sourceFolder_.IsOpen() && folder == sourceFolderPath_) return &sourceFolder_;
    sourceFolderPath_ = folder;
    sourceFolder_ = OpenFolder();
    reachedByPath = std::min(reachedByPath, folder.size());

    // The dropped folder, or a dropped file's folder: by path, created with
    // its parents when it is gone (the emptied-folder rule may have removed it).
    const ByteString root = folder.substr(0, reachedByPath);
    OpenFolder open = OpenFolder::Open(root);
    if (!open.IsOpen() && open.Vanished()) {
        CreateFolderChain(root);
        open = OpenFolder::Open(root);
    }
    // Then each folder after it, as a real folder of the one before.
    for (size_t start = reachedByPath; open.IsOpen() && start < folder.size();) {
        size_t end = start;
        while (end < folder.size() && folder[end] != kPathSeparator && folder[end] != '/') {
            end += IsCp932LeadByte(static_cast<unsigned char>(folder[end])) && end + 1 < folder.size() ? 2 : 1;
        }
        if (end > start) {
            const FolderEntry entry{folder.substr(start, end - start), true, EntryKind::Folder, 0};
            OpenFolder child = open.OpenChild(entry);
            if (!child.IsOpen() && child.Vanished() && open.CreateFolder(entry.name))
                child = open.OpenChild(entry);
            open = std::move(child);
        }
        start = end + 1;
    }
    sourceFolder_ = std::move(open);
    return sourceFolder_.IsOpen() ? &sourceFolder_ : nullptr;
}
