#pragma once
// The modal message boxes, with the button texts of a Japanese desktop.
#include <QString>

#include "ui/dialog_controls.h"

class QWidget;

MessageResult RunMessageBox(QWidget* owner, const QString& text, const QString& caption,
                            MessageButtons buttons, MessageIcon icon);
