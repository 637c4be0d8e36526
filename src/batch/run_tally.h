#pragma once
// What a batch and an undo of one share: the counts, the log lines, the
// counts in the window title, and at the end the logs and the result box.
#include <cstdint>
#include <initializer_list>
#include <string_view>
#include <utility>
#include <vector>

#include "batch/batch_host.h"
#include "batch/batch_state.h"
#include "settings/drop_settings.h"
#include "text/byte_string.h"

// Labels and counts in a row: each label (UTF-8 source text, code page 932 in
// the result) followed by its count in decimal.
ByteString LabelledCounts(std::initializer_list<std::pair<std::u8string_view, int32_t>> counts);

class RunTally {
public:
    // logFolder is where "change.log" and "error.log" live, without a
    // trailing separator.
    RunTally(const DropSettings& settings, BatchState& state, BatchHost& host, ByteString logFolder);

    // Empties the counts, the serial counter and the log texts.
    void Reset();

    // One more file handed over (the total).
    void Counted() { state_.m_nTotal += 1; }
    // A success without a log line.
    void Succeeded() { state_.m_nSuccess += 1; }
    // A success, with its line "from>to" in the change log.
    void Succeeded(const ByteString& from, const ByteString& to);
    // A failure, with its line "from>to" in the error log.
    void Failed(const ByteString& from, const ByteString& to);

    // "Tessarbolink  " and the successes, failures and total, separated by
    // blanks, as the window title.
    void ShowCountsInTitle();

    // Another window runs a batch or an undo: says so, caption "警告".
    void ShowBusy();

    // A warning to show after the result box, caption "警告".
    void Warn(ByteString text);
    // "元に戻す記録を書けなかったため、%d 件は元に戻せません。"
    void WarnUnrecorded(int files);

    // Appends the log texts to their files, each when its option is on, both
    // of them whatever becomes of the other; shows the result box; then a
    // warning for each log that lines could not be written to, after the
    // warnings given before, in order.
    void Finish(const ByteString& resultText);

private:
    static void AppendLogLine(ByteString& log, const ByteString& from, const ByteString& to);
    // Appends a log text; the warning when some of its lines are missing.
    void AppendLog(const char* name, const ByteString& text);

    const DropSettings& settings_;
    BatchState& state_;
    BatchHost& host_;
    ByteString logFolder_;
    ByteString title_;  // reused from file to file
    std::vector<ByteString> warnings_;
};
