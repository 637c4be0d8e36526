#pragma once
// What a batch and an undo of one share: the counts, the log lines, the
// counts in the window title, where the work stands for the progress window
// (also from inside a long copy) and whether to stop, and at the end the
// logs and the result box.
#include <cstdint>
#include <initializer_list>
#include <string_view>
#include <utility>
#include <vector>

#include "batch/batch_host.h"
#include "batch/batch_state.h"
#include "fs/copy_progress.h"
#include "settings/drop_settings.h"
#include "text/byte_string.h"

// Labels and counts in a row: each label (UTF-8 source text, code page 932 in
// the result) followed by its count in decimal.
ByteString LabelledCounts(std::initializer_list<std::pair<std::u8string_view, int32_t>> counts);

class RunTally : public CopyProgress {
public:
    // logFolder is where "change.log" and "error.log" live, without a
    // trailing separator.
    RunTally(const DropSettings& settings, BatchState& state, BatchHost& host, ByteString logFolder);

    // Empties the counts, the serial counter, the log texts and the files known.
    void Reset();

    // Files found for the work (a listed folder's files, a dropped path, the
    // records of the journal); a folder once counted as a file takes itself
    // back with -1.
    void Known(int32_t files) { known_ += files; }
    // A file begins: where the work stands goes to the host.  file must stay
    // valid until the next file begins (the copies report while it is handled).
    void Begins(const ByteString& file);
    // Where the work stands while the batch waits for files worked on
    // elsewhere: the oldest of them, and how far its copy got.
    void AtWork(const ByteString& file, int64_t bytes, int64_t size);
    // CopyProgress: the bytes of the file being handled, from inside its copy.
    void Copied(int64_t bytes, int64_t size) override;
    // Whether the user asked to stop: asked between files, never inside one.
    bool StopRequested() { return host_.StopRequested(); }

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
    int32_t known_ = 0;
    const ByteString* file_ = nullptr;  // the file being handled
    int32_t doneBefore_ = 0;            // the files handled before it
};
