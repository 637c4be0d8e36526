#include "batch/run_tally.h"

#include <algorithm>

#include "fs/folders.h"
#include "fs/program_files.h"

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

void RunTally::Finish(const ByteString& resultText) {
    // A write that fails once a log is open throws FileError: the other log
    // and the result box are abandoned with it.
    if (settings_.m_bChangeLog == 1)
        (void)AppendTextToFile(logFolder_ + kPathSeparator + "change.log", state_.m_sChangeLog);
    if (settings_.m_bErrorLog == 1)
        (void)AppendTextToFile(logFolder_ + kPathSeparator + "error.log", state_.m_sErrorLog);
    static const ByteString caption = Cp932(u8"結果");
    host_.ShowMessage(resultText, caption);
}
