#pragma once
// The main dialog's behaviour, written once for every toolkit: data exchange
// between the controls and the settings, the handlers and the command table.
// The Win32 window and the Qt window are thin adapters that forward their
// events here and implement DialogControls.
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "batch/batch_host.h"
#include "batch/batch_run.h"
#include "batch/batch_state.h"
#include "fs/file_error.h"
#include "naming/format_pieces.h"
#include "naming/name_engine.h"
#include "settings/drop_settings.h"
#include "ui/control_ids.h"
#include "ui/dialog_controls.h"
#include "ui/progress_view.h"

// Milliseconds on a clock that never goes back: the pace of the window's
// refreshes during a batch.
using SteadyClock = std::function<int64_t()>;

class CDropDlg : public BatchHost {
public:
    // Loads the settings from dataFolder (with its trailing separator), which
    // also holds the logs: the program's folder, or the user's data folder
    // where that cannot be written (ChooseDataFolder).  Without a settings file
    // the destination is defaultWhere (DefaultDestinationFor), by default
    // "MovedFiles" in dataFolder.  The clock gives seconds since 1970 for the
    // date token and the random seed; refreshClock paces the title's
    // refreshes during a batch.
    explicit CDropDlg(ByteString dataFolder, Clock clock = CurrentTimeSecondsClock(),
                      SteadyClock refreshClock = SteadyMillisecondsClock());
    CDropDlg(ByteString dataFolder, const ByteString& defaultWhere, Clock clock = CurrentTimeSecondsClock(),
             SteadyClock refreshClock = SteadyMillisecondsClock());

    static Clock CurrentTimeSecondsClock();
    static SteadyClock SteadyMillisecondsClock();

    // A batch sets the title after every file, many thousand times a second.
    // The window is given the title, and a moment to repaint and answer the
    // system, when this much time has passed since it last was (at the
    // display's pace), and always before a message box and when the drop
    // handler returns, so that it shows the final counts.
    static constexpr int64_t kTitleRefreshMilliseconds = 25;

    // The progress window "処理中" shows once a batch or an undo has run this
    // long since its question was answered, and goes before its result.
    static constexpr int64_t kProgressDelayMilliseconds = 1000;
    // It is brought up to date at most this often (each update repaints it).
    static constexpr int64_t kProgressViewMilliseconds = 100;

    // The window's controls; must be set before any handler runs.
    void Attach(DialogControls& controls) { controls_ = &controls; }

    // Initialization once the window exists: pushes the settings, lets the
    // adapter set up its window (the About item in the system menu, the icons,
    // accepting drops), then resets the counts, sets m_nMode to 1 and seeds the
    // random numbers.
    void OnInitDialog(const std::function<void()>& setUpWindow = {});

    // Data exchange in binding order; Pull returns 1 on success, 0 when a
    // text field holds a character without a code page 932 form or the size
    // field holds no integer (after the message, with the settings from that
    // field on unchanged).
    int PullFromControls();
    void PushToControls();

    // The drop: pulls, then readAndRelease reads the dropped paths in order and
    // releases the drop data, then the batch runs, unless the pull failed.  A
    // file error while a log is written is shown as the file-error message.
    void OnDropFiles(const std::function<std::vector<DroppedPath>()>& readAndRelease);

    // A button, Enter (1) or Esc / the close box (2).
    void OnCommand(int id);

    // A system-menu command; true when handled here (the About item, the
    // undo item).
    bool OnSysCommand(unsigned id);

    // Undo of the last batch (the undo item and Ctrl+Z): nothing when there
    // is nothing to undo; otherwise pulls (a failed pull abandons it, as it
    // does a drop), then asks and undoes.  Like a batch, it shows its counts
    // in the title as it goes.
    void OnUndo();
    // Whether the journal holds anything to undo (of the last batch).
    bool CanUndo() const;
    // The journal of the last batch, beside the settings file.
    ByteString JournalPath() const;

    // The menu text of the undo item.
    static ByteString UndoMenuText();

    // "中止", Esc or the close box of the progress window, or the main
    // window's close box while a batch or an undo runs: the work stops after
    // the file being handled, which is finished or left as it was, and
    // reports what it did.  Nothing when no work runs.
    void RequestStop();
    // From a drop (or the undo command) until its batch (or undo) has ended.
    bool Working() const { return working_; }

    // After the window was destroyed: saves the settings as they stand; a file
    // error is shown as the file-error message.
    void OnDestroy();

    // The caption of the framework's own message boxes: the executable's file
    // name without extension.
    static ByteString ProgramName();
    // The names of the program's own files: the program, its settings, logs
    // and journal (a drop leaves them alone).
    static std::vector<ByteString> OwnFileNames();

    // BatchHost
    bool AskYesNo(const ByteString& text, const ByteString& caption) override;
    void ShowMessage(const ByteString& text, const ByteString& caption) override;
    void SetTitle(const ByteString& text) override;
    void ReportProgress(const WorkProgress& progress) override;
    bool StopRequested() override { return stopRequested_; }

    DropSettings& settings() { return settings_; }
    const BatchState& state() const { return state_; }
    const NameProgram& program() const { return program_; }

private:
    // The pieces of the data exchange, one per kind of control.
    void PushText(int id, const ByteString& text);
    int32_t PullRadio(int firstId, int lastId);
    void PushRadio(int firstId, int lastId, int32_t value);
    void PushCheck(int id, int32_t value);
    bool PullText(int id, ByteString& value);
    bool PullInteger(int id, int32_t& value);
    // Says why a field's text is refused, then focuses it with its text selected.
    void RefuseField(int id, const ByteString& message);

    void BrowseForDestination();
    void AppendToFormat(FormatPiece piece);

    // The framework's own boxes: the program's name as caption, an OK button.
    void ShowFrameworkMessage(const ByteString& text, MessageIcon icon);
    void ShowFileError(const FileError& error);

    // Tells the window whether the undo item is available.
    void UpdateUndoItem();

    // Runs a batch or an undo: Working() meanwhile, a file error shown as
    // the file-error message, and the progress window gone at its end.
    void RunWork(const std::function<void()>& work);

    // Whether the window is due a refresh at the time now.
    bool RefreshDue(int64_t now) const { return !lastRefresh_ || now - *lastRefresh_ >= kTitleRefreshMilliseconds; }
    // Lets the window breathe: hands it the last title set, brings the
    // progress window up to date (shows it once the work has run long
    // enough, unless showProgress is false) and lets the window refresh.
    void Refresh(int64_t now, bool showProgress);
    // The same, when a title set since the last refresh is still waiting.
    void RefreshPendingTitle();
    // Before a message box: the last title shown, the progress window gone.
    void BeforeBox();
    void HideProgressWindow();

    ByteString dataFolder_;
    Clock clock_;
    SteadyClock refreshClock_;
    DialogControls* controls_ = nullptr;
    DropSettings settings_;
    BatchState state_;
    NameProgram program_;
    NameRandom random_;

    ByteString title_;       // the last title the batch set
    bool titlePending_ = false;  // title_ has not reached the window yet
    std::optional<int64_t> lastRefresh_;  // none yet in this drop
    // A batch could keep no journal and could not remove the one of an
    // earlier batch either: that one is never offered for undo.
    bool olderJournalLeft_ = false;

    bool working_ = false;        // a batch or an undo runs
    bool stopRequested_ = false;  // and was asked to stop
    std::optional<int64_t> workStart_;  // when its question was answered Yes
    bool progressShown_ = false;
    int64_t lastView_ = 0;        // when the progress window was last brought up to date
    ByteString progressFile_;     // the file being handled
    WorkProgress progress_;       // where the work stands; its file is progressFile_
    ProgressView view_;           // what the progress window shows
};
