#include "ui/drop_dialog.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <string_view>
#include <utility>

#include "batch/clock.h"
#include "fs/documents_folder.h"
#include "batch/journal.h"
#include "batch/undo_run.h"
#include "fs/program_files.h"
#include "settings/settings_file.h"
#include "text/cp932_scan.h"
#include "ui/file_error_text.h"

namespace {

// The size field is read from at most this many bytes of its text.
constexpr size_t kIntegerFieldBytes = 31;

// A text this long is always written back, even when the control holds it already.
constexpr size_t kAlwaysPushedTextBytes = 256;

// The buttons that add a piece to the format.
struct FormatButton {
    int id;
    FormatPiece piece;
};

constexpr FormatButton kFormatButtons[] = {
    {IDC_TITLE, FormatPiece::Title},     {IDC_EXTENSION, FormatPiece::Extension},
    {IDC_DATE, FormatPiece::Date},       {IDC_RANDOM, FormatPiece::Random},
    {IDC_SERIAL, FormatPiece::Serial},   {IDC_UNDERBAR, FormatPiece::Underbar},
    {IDC_HYPHEN, FormatPiece::Hyphen},   {IDC_SPACE, FormatPiece::Space},
};

bool IsBlankOrTab(char b) { return b == ' ' || b == '\t'; }
bool IsDigit(char b) { return b >= '0' && b <= '9'; }

// The size field's integer: blanks or tabs, an optional sign, decimal digits,
// blanks or tabs, and nothing else.  A zero has to be written starting with
// "0", so a bare sign and a signed zero are refused.  A number beyond 32 bits
// is taken as the nearest 32-bit value.
std::optional<int32_t> ParseFieldInteger(const ByteString& fieldText) {
    const std::string_view text = std::string_view(fieldText).substr(0, kIntegerFieldBytes);
    size_t i = 0;
    const auto skipBlanks = [&] {
        while (i < text.size() && IsBlankOrTab(text[i])) ++i;
    };

    skipBlanks();
    const size_t numberStart = i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }

    // Accumulates until one past the largest magnitude (2^31) and stays there.
    constexpr int64_t kSaturated = int64_t{1} << 31;
    const size_t digitsStart = i;
    int64_t magnitude = 0;
    for (; i < text.size() && IsDigit(text[i]); ++i) {
        magnitude = std::min(magnitude * 10 + (text[i] - '0'), kSaturated);
    }
    if (i == digitsStart) return std::nullopt;

    skipBlanks();
    if (i != text.size()) return std::nullopt;
    if (magnitude == 0 && text[numberStart] != '0') return std::nullopt;

    if (negative) return static_cast<int32_t>(-magnitude);  // -2^31 fits
    return static_cast<int32_t>(std::min(magnitude, kSaturated - 1));
}

}  // namespace

CDropDlg::CDropDlg(ByteString dataFolder, Clock clock, SteadyClock refreshClock)
    : CDropDlg(dataFolder, MovedFilesIn(dataFolder), std::move(clock), std::move(refreshClock)) {}

CDropDlg::CDropDlg(ByteString dataFolder, const ByteString& defaultWhere, Clock clock, SteadyClock refreshClock)
    : dataFolder_(std::move(dataFolder)),
      clock_(std::move(clock)),
      refreshClock_(std::move(refreshClock)),
      settings_(LoadSettings(dataFolder_, defaultWhere)) {}

Clock CDropDlg::CurrentTimeSecondsClock() {
    return [] { return CurrentTimeSeconds(); };
}

SteadyClock CDropDlg::SteadyMillisecondsClock() {
    return [] {
        const auto now = std::chrono::steady_clock::now().time_since_epoch();
        return static_cast<int64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
    };
}

std::vector<ByteString> CDropDlg::OwnFileNames() {
    const ByteString exe = ExecutablePath();
    const size_t folderEnd = LastSeparatorIndex(exe);
    std::vector<ByteString> names{ByteString(kSettingsFileName), ByteString("change.log"), ByteString("error.log"),
                                  ByteString(kJournalFileName)};
    names.push_back(JournalLockPath(names.back()));
    names.push_back(NewJournalPath(names[3]));
    if (folderEnd != ByteString::npos) names.push_back(exe.substr(folderEnd + 1));
    return names;
}

ByteString CDropDlg::ProgramName() {
    const ByteString exe = ExecutablePath();
    const size_t folderEnd = LastSeparatorIndex(exe);
    ByteString name = folderEnd == ByteString::npos ? exe : exe.substr(folderEnd + 1);
    const size_t dot = ExtensionDotIndex(name);
    if (dot != ByteString::npos) name.erase(dot);
    return name;
}

void CDropDlg::OnInitDialog(const std::function<void()>& setUpWindow) {
    PushToControls();
    if (setUpWindow) setUpWindow();
    UpdateUndoItem();
    state_.m_nSuccess = 0;
    // The radio buttons keep showing the loaded mode; the next pull reads them again.
    settings_.m_nMode = 1;
    state_.m_nFailure = 0;
    random_.Seed(static_cast<uint32_t>(clock_()));
}

// ---------------------------------------------------------------------------
// Data exchange

int CDropDlg::PullFromControls() {
    // A refused text stops here like a bad size: the settings after it keep their values.
    if (!PullText(IDC_WHERE, settings_.m_sWhere)) return 0;
    if (!PullText(IDC_FORMAT, settings_.m_sFileNameFormat)) return 0;
    settings_.m_nMode = PullRadio(IDC_MOVE, IDC_COPY);
    settings_.m_bChangeLog = controls_->IsChecked(IDC_CHANGELOG) ? 1 : 0;
    settings_.m_bErrorLog = controls_->IsChecked(IDC_ERRORLOG) ? 1 : 0;
    settings_.m_bFileDontMove = controls_->IsChecked(IDC_FILEDONTMOVE) ? 1 : 0;
    // A bad size stops here: the settings after it keep their values.
    if (!PullInteger(IDC_KBYTES, settings_.m_nKBytes)) return 0;
    settings_.m_nDontMoveMode = PullRadio(IDC_DELETE, IDC_DONTMOVE);
    settings_.m_bDeleteDerectory = controls_->IsChecked(IDC_DELETEDIRECTORY) ? 1 : 0;
    return 1;
}

void CDropDlg::PushToControls() {
    PushText(IDC_WHERE, settings_.m_sWhere);
    PushText(IDC_FORMAT, settings_.m_sFileNameFormat);
    PushRadio(IDC_MOVE, IDC_COPY, settings_.m_nMode);
    PushCheck(IDC_CHANGELOG, settings_.m_bChangeLog);
    PushCheck(IDC_ERRORLOG, settings_.m_bErrorLog);
    PushCheck(IDC_FILEDONTMOVE, settings_.m_bFileDontMove);
    PushText(IDC_KBYTES, std::to_string(settings_.m_nKBytes));
    PushRadio(IDC_DELETE, IDC_DONTMOVE, settings_.m_nDontMoveMode);
    PushCheck(IDC_DELETEDIRECTORY, settings_.m_bDeleteDerectory);
}

// An unchanged text is left alone so that the field keeps its caret and selection.
void CDropDlg::PushText(int id, const ByteString& text) {
    if (text.size() >= kAlwaysPushedTextBytes || controls_->GetText(id) != std::optional<ByteString>(text)) {
        controls_->SetText(id, text);
    }
}

// The index of the checked button among firstId..lastId, or -1 when none is.
int32_t CDropDlg::PullRadio(int firstId, int lastId) {
    for (int id = firstId; id <= lastId; ++id) {
        if (controls_->IsChecked(id)) return id - firstId;
    }
    return -1;
}

// Checks the button at index value and clears the others (all of them for a
// value that is no index).
void CDropDlg::PushRadio(int firstId, int lastId, int32_t value) {
    for (int id = firstId; id <= lastId; ++id) {
        controls_->SetChecked(id, id - firstId == value);
    }
}

void CDropDlg::PushCheck(int id, int32_t value) { controls_->SetChecked(id, value == 1); }

// A text with a character that has no code page 932 form would name another
// folder or file ("?" is a valid name character on Linux): it is refused.
bool CDropDlg::PullText(int id, ByteString& value) {
    std::optional<ByteString> text = controls_->GetText(id);
    if (!text) {
        RefuseField(id, Cp932(u8"シフトJISで表せない文字が含まれています。"));
        return false;
    }
    value = std::move(*text);
    return true;
}

bool CDropDlg::PullInteger(int id, int32_t& value) {
    const std::optional<ByteString> text = controls_->GetText(id);
    const std::optional<int32_t> parsed = text ? ParseFieldInteger(*text) : std::nullopt;
    if (!parsed) {
        RefuseField(id, Cp932(u8"整数を入力してください。"));
        return false;
    }
    value = *parsed;
    return true;
}

void CDropDlg::RefuseField(int id, const ByteString& message) {
    ShowFrameworkMessage(message, MessageIcon::Exclamation);
    controls_->FocusAndSelectAll(id);
}

// ---------------------------------------------------------------------------
// Handlers

void CDropDlg::OnDropFiles(const std::function<std::vector<DroppedPath>()>& readAndRelease) {
    // A failed pull has said so and left some settings behind what the
    // controls show (a small-file rule just turned off, say): the drop is
    // abandoned, with its data released, and nothing is touched.
    const bool pulled = PullFromControls() == 1;
    const std::vector<DroppedPath> paths = readAndRelease();
    if (!pulled) return;
    RunWork([&] {
        JournalWriter journal(JournalPath());
        BatchRun batch(settings_, state_, program_, random_, *this, clock_,
                       WithoutTrailingSeparator(dataFolder_), &journal);
        // The program itself, its settings, logs and journal stay where they are.
        batch.LeaveAlone({ProgramDir(), dataFolder_}, OwnFileNames());
        batch.RunBatch(paths);
        if (journal.Recording()) olderJournalLeft_ = false;
        if (journal.LeftOlderJournal()) olderJournalLeft_ = true;
    });
}

void CDropDlg::RunWork(const std::function<void()>& work) {
    struct Running {
        CDropDlg& dlg;
        ~Running() {
            dlg.RefreshPendingTitle();
            dlg.HideProgressWindow();
            dlg.working_ = false;
            dlg.stopRequested_ = false;
            dlg.UpdateUndoItem();
        }
    };
    working_ = true;
    stopRequested_ = false;
    workStart_.reset();
    progress_ = WorkProgress{};
    progressFile_.clear();
    lastRefresh_.reset();  // the first title is shown at once
    const Running running{*this};
    try {
        work();
    } catch (const FileError& error) {
        // A log file that failed while being written abandons the rest of the work.
        ShowFileError(error);
    }
}

void CDropDlg::RequestStop() {
    if (!working_ || stopRequested_) return;
    stopRequested_ = true;
    if (progressShown_) {
        view_.stopping = true;
        controls_->ShowProgress(view_);
    }
}

ByteString CDropDlg::JournalPath() const { return dataFolder_ + kJournalFileName; }

bool CDropDlg::CanUndo() const { return !olderJournalLeft_ && JournalHasRecords(JournalPath()); }

ByteString CDropDlg::UndoMenuText() { return Cp932(u8"直前の処理を元に戻す(&U)"); }

void CDropDlg::UpdateUndoItem() { controls_->EnableUndo(CanUndo()); }

void CDropDlg::OnUndo() {
    if (!CanUndo()) return;
    if (PullFromControls() != 1) return;
    RunWork([&] {
        UndoRun undo(settings_, state_, *this, WithoutTrailingSeparator(dataFolder_), JournalPath());
        undo.Run();
    });
}

void CDropDlg::OnCommand(int id) {
    for (const FormatButton& button : kFormatButtons) {
        if (button.id == id) {
            AppendToFormat(button.piece);
            return;
        }
    }
    switch (id) {
    case IDC_BROWSE: BrowseForDestination(); break;
    case IDC_CLEAR:
        // Refreshes every control from the members, without reading them first.
        settings_.m_sFileNameFormat.clear();
        PushToControls();
        break;
    case IDC_DELETEDIRECTORY: break;  // the box toggles itself
    case IDC_CLOSE:
        if (PullFromControls() == 1) controls_->EndDialog(IDC_CLOSE);
        break;
    case IDC_CANCEL: controls_->EndDialog(IDC_CANCEL); break;
    default: break;
    }
}

// The browser has no owner, so drops and buttons may be handled while it is up;
// only a chosen folder changes the destination, and the controls are then
// refreshed from the members without a pull.
void CDropDlg::BrowseForDestination() {
    const std::optional<ByteString> chosen = controls_->BrowseForFolder(Cp932(u8"フォルダの参照"));
    if (chosen) {
        ByteString folder = *chosen;
        if (!EndsWithCharacter(folder, kPathSeparator)) folder += kPathSeparator;
        settings_.m_sWhere = std::move(folder);
    }
    PushToControls();
}

// Tokens always go to the end of the format, never to the caret.  The pull's
// result is ignored: after a bad size the token is appended all the same.
void CDropDlg::AppendToFormat(FormatPiece piece) {
    PullFromControls();
    settings_.m_sFileNameFormat += FormatPieceText(piece);
    PushToControls();
}

bool CDropDlg::OnSysCommand(unsigned id) {
    switch (id & ~0xFu) {  // low four bits cleared
    case IDM_ABOUTBOX: controls_->RunAboutBox(); return true;
    case IDM_UNDO: OnUndo(); return true;
    default: return false;
    }
}

void CDropDlg::OnDestroy() {
    try {
        SaveSettings(settings_, dataFolder_);
    } catch (const FileError& error) {
        ShowFileError(error);
    }
}

// ---------------------------------------------------------------------------
// Message boxes

void CDropDlg::ShowFrameworkMessage(const ByteString& text, MessageIcon icon) {
    BeforeBox();
    controls_->ShowMessageBox(text, ProgramName(), MessageButtons::Ok, icon);
}

void CDropDlg::ShowFileError(const FileError& error) {
    ShowFrameworkMessage(FileErrorMessage(error), MessageIcon::Stop);
}

bool CDropDlg::AskYesNo(const ByteString& text, const ByteString& caption) {
    BeforeBox();
    const bool yes =
        controls_->ShowMessageBox(text, caption, MessageButtons::YesNo, MessageIcon::None) == MessageResult::Yes;
    if (yes && working_) {
        // The work starts now, with the question gone from the screen.
        workStart_ = refreshClock_();
        controls_->RefreshDuringBatch();
    }
    return yes;
}

void CDropDlg::ShowMessage(const ByteString& text, const ByteString& caption) {
    BeforeBox();
    controls_->ShowMessageBox(text, caption, MessageButtons::Ok, MessageIcon::None);
}

void CDropDlg::BeforeBox() {
    RefreshPendingTitle();
    HideProgressWindow();
}

// ---------------------------------------------------------------------------
// The title and the progress window during a batch

void CDropDlg::SetTitle(const ByteString& text) {
    title_ = text;
    titlePending_ = true;
    const int64_t now = refreshClock_();
    if (RefreshDue(now)) Refresh(now, true);
}

void CDropDlg::ReportProgress(const WorkProgress& progress) {
    progressFile_.assign(progress.file);
    progress_ = progress;
    progress_.file = progressFile_;
    // Inside a long copy the window gets its moments from here.
    if (progress.bytesTotal > 0) {
        const int64_t now = refreshClock_();
        if (RefreshDue(now)) Refresh(now, true);
    }
}

void CDropDlg::Refresh(int64_t now, bool showProgress) {
    if (titlePending_) {
        titlePending_ = false;
        controls_->SetWindowTitle(title_);
    }
    const bool viewDue = progressShown_ ? now - lastView_ >= kProgressViewMilliseconds
                                        : workStart_ && now - *workStart_ >= kProgressDelayMilliseconds;
    if (showProgress && working_ && workStart_ && viewDue) {
        FillProgressView(view_, progress_);
        view_.failed = state_.m_nFailure > 0;
        view_.stopping = stopRequested_;
        progressShown_ = true;
        lastView_ = now;
        controls_->ShowProgress(view_);
    }
    controls_->RefreshDuringBatch();
    // Counted from the end of the refresh: however long the window took, the
    // batch gets the time between two refreshes.
    lastRefresh_ = refreshClock_();
}

void CDropDlg::RefreshPendingTitle() {
    if (titlePending_) Refresh(refreshClock_(), false);
}

void CDropDlg::HideProgressWindow() {
    if (!progressShown_) return;
    progressShown_ = false;
    controls_->HideProgress();
}
