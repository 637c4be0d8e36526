#pragma once
// The small control interface through which the toolkit-neutral dialog talks
// to a real window (Win32 or Qt) or to the tests' fake.  Every text crossing
// it is code page 932; each adapter converts at its own boundary, strictly.
#include <optional>

#include "text/byte_string.h"

enum class MessageButtons { Ok, YesNo };          // YesNo: Yes is the default button
enum class MessageIcon { None, Exclamation, Stop };
enum class MessageResult { Ok, Yes, No };

// What the progress window of a long batch or undo shows (texts in code page
// 932), and what the taskbar button or the launcher entry shows of it.
struct ProgressView {
    ByteString file;        // the path of the file being handled
    ByteString counts;      // files done of the files known so far
    ByteString bytes;       // bytes done of a large file being copied; empty otherwise
    int permille = 0;       // the bar, 0 to 1000
    bool failed = false;    // some file failed (the taskbar button turns red)
    bool stopping = false;  // "中止" was asked for: its button is greyed
};

class DialogControls {
public:
    virtual ~DialogControls() = default;

    // Whole text of an edit box; nullopt when some character of it has no
    // code page 932 form (nothing is ever guessed in its place).
    virtual std::optional<ByteString> GetText(int id) = 0;
    virtual void SetText(int id, const ByteString& text) = 0;

    // Check state of a check box or radio button.
    virtual bool IsChecked(int id) = 0;
    virtual void SetChecked(int id, bool checked) = 0;

    // Puts the focus into an edit box with its whole text selected.
    virtual void FocusAndSelectAll(int id) = 0;

    // A modal message box owned by the main window.
    virtual MessageResult ShowMessageBox(const ByteString& text, const ByteString& caption,
                                         MessageButtons buttons, MessageIcon icon) = 0;

    // Replaces the window title.
    virtual void SetWindowTitle(const ByteString& text) = 0;

    // A batch runs inside the drop handler; from time to time it lets the
    // window show what has changed (the title, pending paints) and answer
    // the system, so that it is never taken for hung.  The progress window
    // takes its input ("中止", Esc, its close box) here; keys and clicks
    // given to the main window are dropped, further drops refused, and its
    // close box asks the dialog to stop (CDropDlg::RequestStop).
    virtual void RefreshDuringBatch() = 0;

    // The progress window "処理中", owned by the main window: shown by the
    // first call, brought up to date by the next ones, and the progress on
    // the taskbar button (Windows) or the launcher entry (Linux) with it.
    virtual void ShowProgress(const ProgressView& view) = 0;
    // Closes the progress window and clears the progress outside it.
    virtual void HideProgress() = 0;

    // Closes the dialog (1 for "閉じる(&C)", 2 for Esc or the close box).
    virtual void EndDialog(int result) = 0;

    // The folder browser titled "フォルダの参照", folders only, without an owner
    // so the window stays usable.  nullopt when cancelled; a chosen folder's
    // file-system path (empty when there is none), without added separator.
    virtual std::optional<ByteString> BrowseForFolder(const ByteString& title) = 0;

    // Runs the About box modally.
    virtual void RunAboutBox() = 0;

    // Shows the undo item ("直前の処理を元に戻す(&U)") as available, or greyed out.
    virtual void EnableUndo(bool enabled) = 0;
};
