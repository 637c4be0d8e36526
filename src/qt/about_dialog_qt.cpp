#include "qt/about_dialog_qt.h"

#include <QAbstractButton>
#include <QScreen>
#include <QShortcut>

#include "qt/help_qt.h"
#include "ui/drop_dialog.h"

CAboutDlg::CAboutDlg(QWidget* owner, QString userGuide) : QDialog(owner), userGuide_(std::move(userGuide)) {
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    built_ = BuildDialog(*this, kAboutDialogLayout);
    setWindowIcon(ApplicationIcon());
    if (auto* ok = qobject_cast<QAbstractButton*>(Control(IDC_CLOSE)))
        connect(ok, &QAbstractButton::clicked, this, &QDialog::accept);
    connect(new QShortcut(QKeySequence(Qt::Key_F1), this), &QShortcut::activated, this,
            [this] { ShowHelp(this, userGuide_); });
    CentreOverOwner();
}

QWidget* CAboutDlg::Control(int id) const { return built_.Control(id); }

void CAboutDlg::CentreOverOwner() {
    QWidget* owner = parentWidget() ? parentWidget()->window() : nullptr;
    QScreen* shown = owner ? owner->screen() : screen();
    QRect frame(QPoint(), size());
    frame.moveCenter(owner ? owner->frameGeometry().center() : shown->availableGeometry().center());
    const QRect work = shown->availableGeometry();
    // Pull it back inside the work area where it would stick out.
    if (frame.right() > work.right()) frame.moveRight(work.right());
    if (frame.bottom() > work.bottom()) frame.moveBottom(work.bottom());
    if (frame.left() < work.left()) frame.moveLeft(work.left());
    if (frame.top() < work.top()) frame.moveTop(work.top());
    move(frame.topLeft());
}
