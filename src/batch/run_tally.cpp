#include "batch/run_tally.h"

#include <algorithm>

#include "fs/folders.h"
#include "fs/program_files.h"

namespace {

const ByteString& WarningCaption() {
    static const ByteString caption = Cp932(u8"警告");
    return caption;
}

}  // namespace

ByteString LabelledCounts(std::initializer_list<std::pair<std::u8string_view, int32_t>> counts) {
    ByteString text;
    for (const auto& [label, count] : counts) {
        text += Cp932(label);
        AppendDecimal(text, count);
    }
    return text;
}

RunTally::RunTally(const DropSettings& settings, BatchState& state, BatchHost& host, ByteString logFolder)
    : settings_(settings), state_(state), host_(host), logFolder_(std::move(logFolder)) {}

void RunTally::Reset() {
    warnings_.clear();
    state_.m_nTotal = 0;
    state_.m_nSerial = 0;
    state_.m_nSuccess = 0;
    state_.m_nFailure = 0;
    state_.m_sChangeLog.clear();
    state_.m_sErrorLog.clear();
    known_ = 0;
    file_ = nullptr;
    doneBefore_ = 0;
}

void RunTally::Begins(const ByteString& file) {
    file_ = &file;
    doneBefore_ = state_.m_nTotal;
    host_.ReportProgress(WorkProgress{file, doneBefore_, known_, 0, 0});
}

void RunTally::AtWork(const ByteString& file, int64_t bytes, int64_t size) {
    host_.ReportProgress(WorkProgress{file, state_.m_nTotal, known_, bytes, std::max(size, bytes)});
}

void RunTally::Copied(int64_t bytes, int64_t size) {
    // A file that said it was empty and was not: its size is what was copied.
    host_.ReportProgress(WorkProgress{file_ ? std::string_view(*file_) : std::string_view(), doneBefore_, known_,
                                      bytes, std::max(size, bytes)});
}

void RunTally::Succeeded(const ByteString& from, const ByteString& to) {
    state_.m_nSuccess += 1;
    AppendLogLine(state_.m_sChangeLog, from, to);
}

void RunTally::Failed(const ByteString& from, const ByteString& to) {
    state_.m_nFailure += 1;
    AppendLogLine(state_.m_sErrorLog, from, to);
}

void RunTally::AppendLogLine(ByteString& log, const ByteString& from, const ByteString& to) {
    log += from;
    log += '>';
    log += to;
    log += "\r\n";
}

void RunTally::ShowCountsInTitle() {
    title_.assign("Tessarbolink  ");
    AppendDecimal(title_, state_.m_nSuccess);
    title_ += ' ';
    AppendDecimal(title_, state_.m_nFailure);
    title_ += ' ';
    AppendDecimal(title_, state_.m_nTotal);
    host_.SetTitle(title_);
}

void RunTally::ShowBusy() {
    static const ByteString text = Cp932(u8"別のウィンドウで処理中です。終わってからもう一度お試しください。");
    host_.ShowMessage(text, WarningCaption());
}

void RunTally::Warn(ByteString text) { warnings_.push_back(std::move(text)); }

void RunTally::WarnUnrecorded(int files) {
    ByteString text = Cp932(u8"元に戻す記録を書けなかったため、");
    AppendDecimal(text, files);
    text += Cp932(u8" 件は元に戻せません。");
    Warn(std::move(text));
}

void RunTally::AppendLog(const char* name, const ByteString& text) {
    const ByteString path = logFolder_ + kPathSeparator + name;
    // What reached the file is what it grew by: the log is only ever added to.
    const int64_t before = FileSizeOf(path).value_or(0);
    bool opened = false;
    try {
        opened = AppendTextToFile(path, text);
    } catch (const FileError&) {
        opened = true;  // failed part-way
    }
    int64_t stored = opened ? FileSizeOf(path).value_or(before) - before : 0;
    stored = std::clamp<int64_t>(stored, 0, static_cast<int64_t>(text.size()));
    const auto lines = [&](size_t size) { return std::count(text.begin(), text.begin() + size, '\n'); };
    const int64_t missing = lines(text.size()) - lines(static_cast<size_t>(stored));
    if (missing == 0) return;
    ByteString warning = path;
    warning += Cp932(u8" に ");
    AppendDecimal(warning, missing);
    warning += Cp932(u8" 行を書き込めませんでした。");
    Warn(std::move(warning));
}

void RunTally::Finish(const ByteString& resultText) {
    if (settings_.m_bChangeLog == 1) AppendLog("change.log", state_.m_sChangeLog);
    if (settings_.m_bErrorLog == 1) AppendLog("error.log", state_.m_sErrorLog);
    static const ByteString caption = Cp932(u8"結果");
    host_.ShowMessage(resultText, caption);
    for (const ByteString& warning : warnings_) host_.ShowMessage(warning, WarningCaption());
    warnings_.clear();
}
