#include "qt/progress_window_qt.h"

#include <QAbstractButton>
#include <QCloseEvent>
#include <QLabel>
#include <QProgressBar>

#include "qt/text_qt.h"
#include "ui/control_ids.h"

namespace {

void SetLabel(QWidget* control, const QString& text) {
    auto* label = qobject_cast<QLabel*>(control);
    if (label && label->text() != text) label->setText(text);
}

}  // namespace

ProgressWindow::ProgressWindow(QWidget* owner) : QDialog(owner) {
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    built_ = BuildDialog(*this, kProgressDialogLayout);
    setWindowIcon(ApplicationIcon());
    if (auto* stop = qobject_cast<QAbstractButton*>(Control(IDC_STOP)))
        connect(stop, &QAbstractButton::clicked, this, &ProgressWindow::stopAsked);
}

void ProgressWindow::Show(const ProgressView& view) {
    const QString file = QtText(view.file);
    if (file != file_) {
        file_ = file;
        // A long path keeps its start and its file name.
        QWidget* label = Control(IDC_PROGRESS_FILE);
        SetLabel(label, label->fontMetrics().elidedText(file_, Qt::ElideMiddle, label->width()));
    }
    SetLabel(Control(IDC_PROGRESS_COUNT), QtText(view.counts));
    SetLabel(Control(IDC_PROGRESS_BYTES), QtText(view.bytes));
    if (auto* bar = qobject_cast<QProgressBar*>(Control(IDC_PROGRESS_BAR))) bar->setValue(view.permille);
    Control(IDC_STOP)->setEnabled(!view.stopping);
    if (!isVisible()) {
        CentreOverOwner(*this);
        show();
        raise();
        activateWindow();
    }
}

void ProgressWindow::reject() { emit stopAsked(); }

void ProgressWindow::closeEvent(QCloseEvent* event) {
    event->ignore();
    emit stopAsked();
}
