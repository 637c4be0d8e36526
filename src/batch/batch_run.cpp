#include "batch/batch_run.h"

#include <utility>

namespace {

const ByteString& AskText() {
    static const ByteString text = Cp932(u8"実行しますか？");
    return text;
}

const ByteString& AskCaption(int32_t mode) {
    static const ByteString move = Cp932(u8"移動処理");
    static const ByteString copy = Cp932(u8"コピー処理");
    return mode == 0 ? move : copy;
}

// "成功：%d　失敗：%d　トータル：%d" with the three counts filled in.
ByteString ResultText(const BatchState& state) {
    static const ByteString success = Cp932(u8"成功：");
    static const ByteString failure = Cp932(u8"　失敗：");
    static const ByteString total = Cp932(u8"　トータル：");
    ByteString text = success;
    AppendDecimal(text, state.m_nSuccess);
    text += failure;
    AppendDecimal(text, state.m_nFailure);
    text += total;
    AppendDecimal(text, state.m_nTotal);
    return text;
}

}  // namespace

BatchRun::BatchRun(DropSettings& settings, BatchState& state, NameProgram& program, NameRandom& random,
                   BatchHost& host, Clock clock, ByteString logFolder)
    : settings_(settings),
      state_(state),
      program_(program),
      random_(random),
      host_(host),
      clock_(std::move(clock)),
      logFolder_(std::move(logFolder)) {}

void BatchRun::RunBatch(const std::vector<ByteString>& paths) {
    std::vector<DroppedPath> dropped;
    dropped.reserve(paths.size());
    for (const ByteString& path : paths) dropped.push_back({path, true});
    RunBatch(dropped);
}

void BatchRun::RunBatch(const std::vector<DroppedPath>& paths) {
    state_.m_nTotal = 0;
    state_.m_nSerial = 0;
    state_.m_nSuccess = 0;
    state_.m_nFailure = 0;
    state_.m_sChangeLog.clear();
    state_.m_sErrorLog.clear();
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

    CreateFolderChain(settings_.m_sWhere);
    destinationId_ = FileIdOf(settings_.m_sWhere);

    for (const DroppedPath& dropped : paths) ProcessDroppedPath(dropped);
    FinishBatch();
}

void BatchRun::ProcessDroppedPath(const DroppedPath& dropped) {
    if (!dropped.convertible) {
        ProcessFile(dropped.path, false);
        return;
    }
    switch (KindOf(dropped.path)) {
    case EntryKind::Folder:
    case EntryKind::Missing:  // its listing fails: a vanished path contributes nothing
        ProcessDirectory(dropped.path);
        break;
    case EntryKind::FolderLink:
        // Dropped on purpose, so its folder is walked (links inside it are
        // not followed); the link itself is never removed.
        WalkFolder(dropped.path);
        break;
    case EntryKind::File:
        ProcessFile(dropped.path);
        break;
    case EntryKind::Special:
        ProcessFile(dropped.path, false);
        break;
    }
}

void BatchRun::ProcessDirectory(const ByteString& folder) {
    WalkFolder(folder);
    if (settings_.m_bDeleteDerectory == 1 && FolderIsEmpty(folder) == 1) RemoveFolder(folder);
}

void BatchRun::WalkFolder(const ByteString& folder) {
    // The whole listing first: some file systems list a name twice when the
    // folder changes while it is being read, and our own moves change it.
    std::vector<FolderEntry> entries;
    if (!ListFolder(folder, entries)) return;
    ByteString child = folder;
    child += kPathSeparator;
    const size_t prefixLength = child.size();
    for (const FolderEntry& entry : entries) {
        child.resize(prefixLength);
        child += entry.name;
        ProcessEntry(child, entry);
    }
}

void BatchRun::ProcessEntry(const ByteString& child, const FolderEntry& entry) {
    if (!entry.convertible) {
        // Only the "?" form of its name is known: nothing may be touched in its place.
        ProcessFile(child, false);
        return;
    }
    switch (entry.kind) {
    case EntryKind::Folder:
        if (!IsDestination(child)) ProcessDirectory(child);
        break;
    case EntryKind::FolderLink:
        break;  // never followed: it may lead to an ancestor, or out of the drop
    case EntryKind::Special:
        ProcessFile(child, false);  // a FIFO or device is never opened
        break;
    case EntryKind::File:
    case EntryKind::Missing:  // gone since the listing: its move fails and is logged
        ProcessFile(child);
        break;
    }
}

bool BatchRun::IsDestination(const ByteString& folder) const {
    if (!destinationId_) return false;
    const std::optional<FileId> id = FileIdOf(folder);
    return id && *id == *destinationId_;
}

void BatchRun::ProcessFile(const ByteString& source, bool convertible) {
    NameContext context{settings_.m_sFileNameFormat, state_.m_nSerial, random_, clock_, ToLocalDateTime, host_};
    const ByteString name = BuildTargetName(program_, source, context);

    ByteString& where = settings_.m_sWhere;
    // Without a destination (only possible when called outside RunBatch) the
    // separator would turn the name into one at the root: touch nothing.
    const bool touchable = convertible && !where.empty();
    if (!where.empty() && where.back() != kPathSeparator) where += kPathSeparator;
    destination_.assign(where);
    destination_ += name;

    state_.m_nTotal += 1;
    if (!touchable) {
        CountFailure(source);
    } else if (IsSmall(source)) {
        DisposeOfSmallFile(source);
    } else {
        MoveOrCopy(source);
    }
    ShowCountsInTitle();
}

bool BatchRun::IsSmall(const ByteString& source) const {
    if (settings_.m_bFileDontMove != 1) return false;
    // A size that cannot be read is never small: the file is moved or copied
    // as usual, so it is never deleted unmeasured.
    const std::optional<int64_t> size = FileSizeOf(source);
    return size && *size / 1000 < static_cast<int64_t>(settings_.m_nKBytes);
}

void BatchRun::DisposeOfSmallFile(const ByteString& source) {
    switch (settings_.m_nDontMoveMode) {
    case 0:
        if (RemoveFile(source) == 1) {
            CountSuccess();
        } else {
            CountFailure(source);
        }
        break;
    case 1:
        CountSuccess();  // left where it is
        break;
    default:
        break;  // no rule chosen: the file only counts in the total
    }
}

void BatchRun::MoveOrCopy(const ByteString& source) {
    const int result = settings_.m_nMode == 0 ? MoveNoOverwrite(source, destination_)
                                              : CopyOverwrite(source, destination_);
    if (result == 1) {
        CountSuccess();
        AppendLogLine(state_.m_sChangeLog, source, destination_);
    } else {
        CountFailure(source);
    }
}

void BatchRun::CountSuccess() { state_.m_nSuccess += 1; }

void BatchRun::CountFailure(const ByteString& source) {
    state_.m_nFailure += 1;
    AppendLogLine(state_.m_sErrorLog, source, destination_);
}

void BatchRun::AppendLogLine(ByteString& log, const ByteString& source, const ByteString& destination) {
    log += source;
    log += '>';
    log += destination;
    log += "\r\n";
}

void BatchRun::ShowCountsInTitle() {
    title_.assign("Tessarbolink  ");
    AppendDecimal(title_, state_.m_nSuccess);
    title_ += ' ';
    AppendDecimal(title_, state_.m_nFailure);
    title_ += ' ';
    AppendDecimal(title_, state_.m_nTotal);
    host_.SetTitle(title_);
}

void BatchRun::FinishBatch() {
    // A write that fails once a log is open throws FileError: the rest of the
    // batch, the other log and the result box are abandoned with it.
    if (settings_.m_bChangeLog == 1)
        AppendTextToFile(logFolder_ + kPathSeparator + "change.log", state_.m_sChangeLog);
    if (settings_.m_bErrorLog == 1)
        AppendTextToFile(logFolder_ + kPathSeparator + "error.log", state_.m_sErrorLog);

    static const ByteString caption = Cp932(u8"結果");
    host_.ShowMessage(ResultText(state_), caption);
}
