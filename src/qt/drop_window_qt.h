#pragma once
// The main dialog on Linux: a fixed-size Qt window built from the control
// table, forwarding its events to CDropDlg and serving it as DialogControls.
#include <deque>
#include <memory>
#include <vector>

#include <QDialog>
#include <QPointer>
#include <QString>

#include "batch/batch_run.h"
#include "qt/dialog_builder_qt.h"
#include "qt/launcher_entry_qt.h"
#include "ui/dialog_controls.h"
#include "ui/drop_dialog.h"

class ProgressWindow;
class QFileDialog;
class QLineEdit;
class QMimeData;

class DropWindow : public QDialog, public DialogControls {
    Q_OBJECT
public:
    // Builds the window and initializes dlg; F1 opens userGuide (may be empty).
    DropWindow(CDropDlg& dlg, QString userGuide);
    ~DropWindow() override;

    QWidget* Control(int id) const;
    // The controls, as built from the control table.
    const BuiltDialog& built() const { return built_; }
    // True from a drop until its batch has finished.
    bool BatchRunning() const { return batchRunning_; }

    // DialogControls
    std::optional<ByteString> GetText(int id) override;
    void SetText(int id, const ByteString& text) override;
    bool IsChecked(int id) override;
    void SetChecked(int id, bool checked) override;
    void FocusAndSelectAll(int id) override;
    MessageResult ShowMessageBox(const ByteString& text, const ByteString& caption, MessageButtons buttons,
                                 MessageIcon icon) override;
    void SetWindowTitle(const ByteString& text) override;
    void RefreshDuringBatch() override;
    void ShowProgress(const ProgressView& view) override;
    void HideProgress() override;
    void EndDialog(int result) override;
    std::optional<ByteString> BrowseForFolder(const ByteString& title) override;
    void RunAboutBox() override;
    void EnableUndo(bool enabled) override;

    // Handles the paths as a drop of them (files given on the command line):
    // the batch runs from the event loop, once this has returned.
    void DropPaths(std::vector<DroppedPath> paths);
    // The files of a later start of the program: the window comes to the
    // front and handles them as a drop once it is free (after the running
    // batch or undo, and after those handed over before).  No paths: it only
    // comes to the front.  False when the window has closed and takes none.
    bool HandOver(std::vector<DroppedPath> paths);
    // The undo item and Ctrl+Z: undoes the last batch, holding back input
    // as a batch does.
    void Undo();
    bool UndoEnabled() const { return undoEnabled_; }
    // Closes the window as the close box does; a running batch or undo is
    // stopped after the file it handles, and the window closes after it.
    void CloseWhenIdle();
    // The progress window of the running batch, or nullptr.
    ProgressWindow* Progress() const;

    // Esc and the close box; during a batch the close box stops it.
    void reject() override;
    // Closing ends the window's life: the settings are saved here.
    void done(int result) override;

signals:
    // The window has closed and its settings have been saved.
    void finishedAndSaved();

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    bool focusNextPrevChild(bool next) override;
    // During a batch: drops the keys and clicks given to this window.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLineEdit& Edit(int id) const;
    QAbstractButton& Button(int id) const;
    bool AcceptsDrag(const QMimeData* data) const;
    void RunDroppedBatch(const std::vector<DroppedPath>& paths);
    // Runs a batch or an undo with the input to this window dropped.
    void RunWork(const std::function<void()>& work);
    bool IsInputToThisWindow(QObject* watched, const QEvent* event) const;
    void BringToFront();
    // After a batch or an undo: a close asked for meanwhile, else the next
    // files handed over.
    void AfterBatch();
    void RunHandedOverWhenFree();
    void SaveOnce();
    void CentreInWorkArea();

    CDropDlg& dlg_;
    QString userGuide_;
    BuiltDialog built_;
    QPointer<QFileDialog> browser_;
    bool batchRunning_ = false;
    bool closeRequested_ = false;
    bool saved_ = false;
    bool undoEnabled_ = false;
    ProgressWindow* progress_ = nullptr;  // a child: deleted with the window
    LauncherEntry launcher_;
    std::deque<std::vector<DroppedPath>> handedOver_;
};

// An absolute local path as a dropped path: in code page 932, or, when some
// character has no code page 932 form, in its shown form marked not convertible.
DroppedPath DroppedPathOf(const QString& localPath);

// The paths of dropped file: URLs in code page 932, in order; a path with no
// code page 932 form is kept as its shown form, marked not convertible.  URLs
// that name no absolute path on this machine are left out.
std::vector<DroppedPath> DroppedPathsOf(const QList<QUrl>& urls);
