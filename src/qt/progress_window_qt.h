#pragma once
// The progress window "処理中" of a long batch or undo: owned by the main
// window, built from the layout table, and its "中止" button, Esc and close
// box asking the work to stop.
#include <QDialog>
#include <QString>

#include "qt/dialog_builder_qt.h"
#include "ui/dialog_controls.h"

class ProgressWindow : public QDialog {
    Q_OBJECT
public:
    explicit ProgressWindow(QWidget* owner);

    // Shows the window (centred over its owner the first time) with view.
    void Show(const ProgressView& view);
    QWidget* Control(int id) const { return built_.Control(id); }
    // The whole path of the file shown (the label may show it shortened).
    const QString& FilePath() const { return file_; }

    // Esc: asks to stop; the window stays until the work has ended.
    void reject() override;

signals:
    // "中止", Esc or the close box.
    void stopAsked();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    BuiltDialog built_;
    QString file_;
};
