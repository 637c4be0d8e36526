#pragma once
// The About box "Tessarbolinkのﾊﾞｰｼﾞｮﾝ情報": the icon, two lines of text and OK.
#include <QDialog>
#include <QString>

#include "qt/dialog_builder_qt.h"

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    // Centred over owner and kept inside its screen's work area; F1 opens
    // userGuide.
    CAboutDlg(QWidget* owner, QString userGuide);

    QWidget* Control(int id) const;
    // The controls, as built from the control table.
    const BuiltDialog& built() const { return built_; }

private:
    BuiltDialog built_;
    QString userGuide_;
};
