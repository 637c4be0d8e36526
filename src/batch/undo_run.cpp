#include "batch/undo_run.h"

#include <utility>

namespace {

// "戻した：%d　戻せない：%d" with the counts filled in.
ByteString ResultText(const BatchState& state) {
    static const ByteString undone = Cp932(u8"戻した：");
    static const ByteString notUndone = Cp932(u8"　戻せない：");
    ByteString text = undone;
    AppendDecimal(text, state.m_nSuccess);
    text += notUndone;
    AppendDecimal(text, state.m_nFailure);
    return text;
}

// "destination>source".
void AppendUndoLogLine(ByteString& log, const JournalRecord& record) {
    log += record.destination;
    log += '>';
    log += record.source;
    log += "\r\n";
}

}  // namespace

size_t NameStartOf(const ByteString& path) {
    size_t start = 0;
    for (size_t i = 0; i < path.size(); ++i) {
        const char b = path[i];
        if (b == kPathSeparator || b == '/') {
            start = i + 1;
        } else if (IsCp932LeadByte(static_cast<unsigned char>(b))) {
            ++i;  // its second byte is no separator
        }
    }
    return start;
}

UndoRun::UndoRun(const DropSettings& settings, BatchState& state, BatchHost& host, ByteString logFolder,
                 ByteString journalPath)
    : settings_(settings),
      state_(state),
      host_(host),
      logFolder_(std::move(logFolder)),
      journalPath_(std::move(journalPath)) {}

void UndoRun::Run() {
    const std::vector<JournalRecord> records = ReadJournal(journalPath_);
    if (records.empty()) return;
    if (!host_.AskYesNo(Cp932(u8"直前の処理を元に戻しますか？"), Cp932(u8"元に戻す"))) return;

    state_.m_nTotal = 0;
    state_.m_nSuccess = 0;
    state_.m_nFailure = 0;
    state_.m_sChangeLog.clear();
    state_.m_sErrorLog.clear();
    filesKnown_ = 0;
    for (const JournalRecord& record : records) filesKnown_ += record.kind != JournalKind::RemovedFolder ? 1 : 0;
    // Newest first; a stop leaves the older records for a later undo.
    size_t left = records.size();
    for (; left > 0 && !host_.StopRequested(); --left) Undo(records[left - 1]);
    placedFolder_ = OpenFolder();
    sourceFolder_ = OpenFolder();
    KeepInJournal(journalPath_, records, left);

    if (settings_.m_bChangeLog == 1)
        AppendTextToFile(logFolder_ + kPathSeparator + "change.log", state_.m_sChangeLog);
    if (settings_.m_bErrorLog == 1)
        AppendTextToFile(logFolder_ + kPathSeparator + "error.log", state_.m_sErrorLog);
    host_.ShowMessage(ResultText(state_), Cp932(u8"結果"));
}

void UndoRun::Undo(const JournalRecord& record) {
    if (record.kind != JournalKind::RemovedFolder)
        host_.ReportProgress(WorkProgress{record.destination, state_.m_nTotal, filesKnown_, 0, 0});
    switch (record.kind) {
    case JournalKind::RemovedFolder:
        // Not a file: recreated, and not counted.
        SourceFolder(record.source, record.reachedByPath);
        return;
    case JournalKind::Moved:
        if (MoveBack(record)) {
            CountUndone(record);
            AppendUndoLogLine(state_.m_sChangeLog, record);
        } else {
            CountNotUndone(record);
        }
        break;
    case JournalKind::Copied:
        if (RemoveCopy(record)) {
            CountUndone(record);
        } else {
            CountNotUndone(record);
        }
        break;
    case JournalKind::CopiedOver:
    case JournalKind::Deleted:
        CountNotUndone(record);  // what was there before is gone
        break;
    }
    ShowCountsInTitle();
}

bool UndoRun::MoveBack(const JournalRecord& record) {
    const size_t placedName = NameStartOf(record.destination);
    const size_t sourceName = NameStartOf(record.source);
    if (placedName == 0 || sourceName == 0 || sourceName == record.source.size()) return false;
    const OpenFolder* placed = PlacedFolder(record.destination.substr(0, placedName));
    const ByteString name = record.destination.substr(placedName);
    if (!placed || placed->StampOf(name) != record.placed) return false;
    const OpenFolder* source = SourceFolder(record.source.substr(0, sourceName), record.reachedByPath);
    return source && placed->MoveNoOverwrite(name, *source, record.source.substr(sourceName)) == 1;
}

bool UndoRun::RemoveCopy(const JournalRecord& record) {
    const size_t placedName = NameStartOf(record.destination);
    if (placedName == 0) return false;
    const OpenFolder* placed = PlacedFolder(record.destination.substr(0, placedName));
    const ByteString name = record.destination.substr(placedName);
    return placed && placed->StampOf(name) == record.placed && placed->RemoveFile(name) == 1;
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
            if (!child.IsOpen() && child.Vanished() && open.CreateFolder(entry.name) == 1)
                child = open.OpenChild(entry);
            open = std::move(child);
        }
        start = end + 1;
    }
    sourceFolder_ = std::move(open);
    return sourceFolder_.IsOpen() ? &sourceFolder_ : nullptr;
}

void UndoRun::CountUndone(const JournalRecord&) {
    state_.m_nTotal += 1;
    state_.m_nSuccess += 1;
}

void UndoRun::CountNotUndone(const JournalRecord& record) {
    state_.m_nTotal += 1;
    state_.m_nFailure += 1;
    AppendUndoLogLine(state_.m_sErrorLog, record);
}

void UndoRun::ShowCountsInTitle() {
    AssignCountsTitle(title_, state_);
    host_.SetTitle(title_);
}
