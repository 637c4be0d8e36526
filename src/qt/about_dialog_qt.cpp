#include "qt/about_dialog_qt.h"

#include <QAbstractButton>
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
    CentreOverOwner(*this);
}

QWidget* CAboutDlg::Control(int id) const { return built_.Control(id); }
