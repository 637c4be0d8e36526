#include "qt/drop_window_qt.h"

#include <optional>

#include <QAbstractButton>
#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QEventLoop>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QSysInfo>
#include <QTimer>
#include <QWindow>

#include "qt/about_dialog_qt.h"
#include "qt/help_qt.h"
#include "qt/message_box_qt.h"
#include "qt/progress_window_qt.h"
#include "qt/text_qt.h"

namespace {

// String 101, the first item of the window's context menu.
const char8_t* const kAboutMenuText = u8"Tessarbolink のﾊﾞｰｼﾞｮﾝ情報(&A)...";

// A folder dropped from a file manager may end in "/"; the walk wants the
// folder's own name.
QString WithoutTrailingSlash(QString path) {
    while (path.size() > 1 && path.endsWith(u'/')) path.chop(1);
    return path;
}

bool NamesThisMachine(const QString& host) {
    return host.isEmpty() || host.compare(QStringLiteral("localhost"), Qt::CaseInsensitive) == 0 ||
           host.compare(QSysInfo::machineHostName(), Qt::CaseInsensitive) == 0;
}

// The absolute local path of a file: URL, or nullopt when it names no file of
// this machine by an absolute path.  Qt turns a host into a leading "//host",
// which Linux reads as the local folder "/host", and an encoded "/" inside a
// name into a separator: either would name another file than the one meant.
std::optional<QString> LocalPathOf(QUrl url) {
    if (!url.isLocalFile() || !NamesThisMachine(url.host())) return std::nullopt;
    if (url.path(QUrl::FullyEncoded).contains(QStringLiteral("%2F"), Qt::CaseInsensitive)) return std::nullopt;
    url.setHost(QString());
    const QString path = url.toLocalFile();
    if (!path.startsWith(u'/')) return std::nullopt;
    return WithoutTrailingSlash(path);
}

// A drop is taken as a copy (or a link), never as a move: a source told
// "moved" may delete its files, even after the user answered No.  This
// program moves the files itself.  False when the source offers neither.
bool AcceptWithoutMove(QDropEvent* event) {
    for (const Qt::DropAction action : {Qt::CopyAction, Qt::LinkAction}) {
        if (event->possibleActions() & action) {
            event->setDropAction(action);
            event->accept();
            return true;
        }
    }
    return false;
}

}  // namespace

DroppedPath DroppedPathOf(const QString& localPath) {
    if (auto cp932 = Cp932Strict(localPath)) return DroppedPath{*cp932, true};
    return DroppedPath{Cp932Shown(localPath), false};
}

std::vector<DroppedPath> DroppedPathsOf(const QList<QUrl>& urls) {
    std::vector<DroppedPath> paths;
    for (const QUrl& url : urls) {
        const std::optional<QString> local = LocalPathOf(url);
        if (!local) continue;  // refused by the drag cursor already
        paths.push_back(DroppedPathOf(*local));
    }
    return paths;
}

DropWindow::DropWindow(CDropDlg& dlg, QString userGuide) : dlg_(dlg), userGuide_(std::move(userGuide)) {
    // A window of its own (with a taskbar button), with a close box but no
    // minimize or maximize box.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    built_ = BuildDialog(*this, kMainDialogLayout);
    AddKeyboardAndNames(*this, built_, kMainFieldLabels);
    setWindowIcon(ApplicationIcon());
    setAcceptDrops(true);

    for (const auto& placed : built_.controls) {
        auto* button = qobject_cast<QPushButton*>(placed.widget);
        if (!button) continue;
        const int id = placed.entry->id;
        connect(button, &QPushButton::clicked, this, [this, id] { dlg_.OnCommand(id); });
    }
    connect(new QShortcut(QKeySequence(Qt::Key_F1), this), &QShortcut::activated, this,
            [this] { ShowHelp(this, userGuide_); });
    // A text field takes Ctrl+Z for its own undo before the shortcut sees
    // it; the check below is for a field that would not.
    connect(new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z), this), &QShortcut::activated, this, [this] {
        if (!qobject_cast<QLineEdit*>(focusWidget())) Undo();
    });

    dlg_.Attach(*this);
    dlg_.OnInitDialog();
    Control(IDC_CLOSE)->setFocus(Qt::OtherFocusReason);
    CentreInWorkArea();
}

DropWindow::~DropWindow() {
    // A window destroyed without having been closed (the session ended)
    // still saves its settings.
    SaveOnce();
}

QWidget* DropWindow::Control(int id) const { return built_.Control(id); }

QLineEdit& DropWindow::Edit(int id) const { return *qobject_cast<QLineEdit*>(Control(id)); }

QAbstractButton& DropWindow::Button(int id) const { return *qobject_cast<QAbstractButton*>(Control(id)); }

void DropWindow::CentreInWorkArea() {
    QRect frame(QPoint(), size());
    frame.moveCenter(screen()->availableGeometry().center());
    move(frame.topLeft());
}

// --- DialogControls ---------------------------------------------------------

std::optional<ByteString> DropWindow::GetText(int id) { return Cp932Strict(Edit(id).text()); }

// Always sets: the dialog decides when a text is left alone.
void DropWindow::SetText(int id, const ByteString& text) { Edit(id).setText(QtText(text)); }

bool DropWindow::IsChecked(int id) { return Button(id).isChecked(); }

void DropWindow::SetChecked(int id, bool checked) { SetButtonChecked(Button(id), checked); }

void DropWindow::FocusAndSelectAll(int id) {
    Edit(id).setFocus(Qt::OtherFocusReason);
    Edit(id).selectAll();
}

MessageResult DropWindow::ShowMessageBox(const ByteString& text, const ByteString& caption, MessageButtons buttons,
                                         MessageIcon icon) {
    // Keys and clicks given meanwhile are dropped before the box appears:
    // only the user, having seen it, answers it.
    if (batchRunning_) QCoreApplication::processEvents();
    const MessageResult answer = RunMessageBox(this, QtText(text), QtText(caption), buttons, icon);
    // The box is gone from the screen before anything else is done.
    repaint();
    return answer;
}

void DropWindow::SetWindowTitle(const ByteString& text) { setWindowTitle(QtText(text)); }

void DropWindow::RefreshDuringBatch() {
    // Paints, the system's requests and the progress window's input; the
    // keys and clicks given to this window are dropped (eventFilter), drags
    // refused, and the close box stops the batch.
    QCoreApplication::processEvents();
}

void DropWindow::ShowProgress(const ProgressView& view) {
    if (!progress_) {
        progress_ = new ProgressWindow(this);
        connect(progress_, &ProgressWindow::stopAsked, this, [this] { dlg_.RequestStop(); });
    }
    progress_->Show(view);
    launcher_.Show(view.permille);
}

void DropWindow::HideProgress() {
    if (progress_) progress_->hide();
    launcher_.Clear();
}

ProgressWindow* DropWindow::Progress() const { return progress_ && progress_->isVisible() ? progress_ : nullptr; }

void DropWindow::EndDialog(int result) { done(result); }

std::optional<ByteString> DropWindow::BrowseForFolder(const ByteString& title) {
    if (browser_) {
        // One chooser is enough; bring the open one forward.
        browser_->raise();
        browser_->activateWindow();
        return std::nullopt;
    }
    // No owner: the main window stays usable while the chooser is open, so it
    // gets an event loop of its own instead of a modal one.
    QFileDialog chooser(nullptr, QtText(title), QDir::homePath());
    chooser.setFileMode(QFileDialog::Directory);
    chooser.setOption(QFileDialog::ShowDirsOnly);
    chooser.setWindowModality(Qt::NonModal);
    chooser.setWindowIcon(ApplicationIcon());
    browser_ = &chooser;
    QEventLoop loop;
    connect(&chooser, &QDialog::finished, &loop, &QEventLoop::quit);
    chooser.show();
    loop.exec();
    browser_ = nullptr;

    const QStringList chosen = chooser.selectedFiles();
    if (chooser.result() != QDialog::Accepted || chosen.isEmpty() || chosen.first().isEmpty()) return std::nullopt;
    if (auto path = Cp932Strict(chosen.first())) return path;
    // The destination must be named exactly; a folder whose name has no code
    // page 932 form cannot be one.  Keep the old destination and say why.
    RunMessageBox(this,
                  QtText(u8"選択したフォルダの名前にはシフトJISで表せない文字が含まれているため、格納先にできません。"),
                  QtText(CDropDlg::ProgramName()), MessageButtons::Ok, MessageIcon::Exclamation);
    return std::nullopt;
}

void DropWindow::RunAboutBox() {
    CAboutDlg about(this, userGuide_);
    about.exec();
}

void DropWindow::EnableUndo(bool enabled) { undoEnabled_ = enabled; }

// Tab and Shift+Tab, as the Windows dialog manager moves them.
bool DropWindow::focusNextPrevChild(bool next) {
    QWidget* target = NextTabStop(built_, focusWidget(), next);
    if (!target) return QDialog::focusNextPrevChild(next);
    target->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
    return true;
}

// --- Closing ------------------------------------------------------------------

void DropWindow::reject() {
    if (batchRunning_) {
        // Asks nothing: the batch stops after its current file and shows
        // what it did; the window stays.
        dlg_.RequestStop();
        return;
    }
    dlg_.OnCommand(IDC_CANCEL);
}

void DropWindow::done(int result) {
    if (browser_) browser_->reject();  // its loop returns "cancelled" once we are back in it
    QDialog::done(result);
    SaveOnce();
}

void DropWindow::SaveOnce() {
    if (saved_) return;
    saved_ = true;
    dlg_.OnDestroy();
    emit finishedAndSaved();
}

// --- Drops ------------------------------------------------------------------

bool DropWindow::AcceptsDrag(const QMimeData* data) const {
    if (batchRunning_ || saved_ || !data || !data->hasUrls()) return false;
    const QList<QUrl> urls = data->urls();
    if (urls.isEmpty()) return false;
    for (const QUrl& url : urls) {
        if (!LocalPathOf(url)) return false;
    }
    return true;
}

void DropWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (!AcceptsDrag(event->mimeData()) || !AcceptWithoutMove(event)) event->ignore();
}

void DropWindow::dragMoveEvent(QDragMoveEvent* event) {
    if (!AcceptsDrag(event->mimeData()) || !AcceptWithoutMove(event)) event->ignore();
}

void DropWindow::dropEvent(QDropEvent* event) {
    if (!AcceptsDrag(event->mimeData()) || !AcceptWithoutMove(event)) {
        event->ignore();
        return;
    }
    // The drop is released when this handler returns; the batch, with its
    // message boxes, runs after that and never keeps the file manager waiting.
    // (So the controls are pulled after the paths were read, not before.)
    DropPaths(DroppedPathsOf(event->mimeData()->urls()));
}

void DropWindow::DropPaths(std::vector<DroppedPath> paths) {
    batchRunning_ = true;
    QTimer::singleShot(0, this, [this, paths = std::move(paths)] { RunDroppedBatch(paths); });
}

void DropWindow::RunDroppedBatch(const std::vector<DroppedPath>& paths) {
    // A window closed in the moment between the drop and its batch has saved
    // its settings already; nothing is touched behind its back.
    RunWork([&] {
        if (!saved_) dlg_.OnDropFiles([&paths] { return paths; });
    });
}

void DropWindow::Undo() {
    if (batchRunning_ || saved_) return;
    RunWork([this] { dlg_.OnSysCommand(IDM_UNDO); });
}

void DropWindow::RunWork(const std::function<void()>& work) {
    struct Running {
        DropWindow& window;
        ~Running() {
            QCoreApplication::instance()->removeEventFilter(&window);
            window.batchRunning_ = false;
        }
    };
    batchRunning_ = true;  // further drops are refused
    QCoreApplication::instance()->installEventFilter(this);
    {
        const Running running{*this};
        work();
    }
    AfterBatch();
}

void DropWindow::AfterBatch() {
    if (closeRequested_) reject();
    else RunHandedOverWhenFree();
}

bool DropWindow::HandOver(std::vector<DroppedPath> paths) {
    if (saved_ || closeRequested_) return false;
    BringToFront();
    if (paths.empty()) return true;
    handedOver_.push_back(std::move(paths));
    RunHandedOverWhenFree();
    return true;
}

void DropWindow::BringToFront() {
    if (isMinimized()) setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

void DropWindow::RunHandedOverWhenFree() {
    if (handedOver_.empty() || saved_) return;
    if (batchRunning_) return;  // called again when it ends
    // A box or the About box is open: the files wait until it is closed.
    if (QApplication::activeModalWidget()) {
        QTimer::singleShot(100, this, &DropWindow::RunHandedOverWhenFree);
        return;
    }
    std::vector<DroppedPath> paths = std::move(handedOver_.front());
    handedOver_.pop_front();
    DropPaths(std::move(paths));
}

void DropWindow::CloseWhenIdle() {
    closeRequested_ = true;
    reject();
}

bool DropWindow::eventFilter(QObject* watched, QEvent* event) {
    if (!batchRunning_ || !IsInputToThisWindow(watched, event)) return false;
    // A key that would trigger a shortcut (Ctrl+Z, F1) is claimed, then dropped.
    if (event->type() == QEvent::ShortcutOverride) event->accept();
    return true;
}

bool DropWindow::IsInputToThisWindow(QObject* watched, const QEvent* event) const {
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::InputMethod:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TabletPress:
    case QEvent::TabletRelease:
        break;
    default:
        return false;
    }
    if (watched == static_cast<QObject*>(windowHandle())) return true;
    const auto* widget = qobject_cast<const QWidget*>(watched);
    return widget && widget->window() == this;
}

// --- The About and undo items ------------------------------------------------

void DropWindow::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    QAction* about = menu.addAction(QtText(kAboutMenuText));
    QAction* undo = menu.addAction(QtText(CDropDlg::UndoMenuText()));
    undo->setEnabled(undoEnabled_);
    QAction* chosen = menu.exec(event->globalPos());
    if (chosen == about) dlg_.OnSysCommand(IDM_ABOUTBOX);
    if (chosen == undo) Undo();
}
