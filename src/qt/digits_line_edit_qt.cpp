#include "qt/digits_line_edit_qt.h"

#include <QApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>

namespace {

// True when typing this text would put something other than a digit into
// the field; control characters (Ctrl+A, Backspace and the like) pass.
bool TypesNonDigit(const QString& typed) {
    for (const QChar ch : typed) {
        if (ch.isPrint() && !(ch >= u'0' && ch <= u'9')) return true;
    }
    return false;
}

}  // namespace

DigitsLineEdit::DigitsLineEdit(QWidget* parent) : QLineEdit(parent) {
    setAlignment(Qt::AlignRight | Qt::AlignVCenter);
}

void DigitsLineEdit::keyPressEvent(QKeyEvent* event) {
    const bool shortcut = event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    if (!shortcut && TypesNonDigit(event->text())) {
        QApplication::beep();
        event->accept();
        return;
    }
    QLineEdit::keyPressEvent(event);
}

void DigitsLineEdit::inputMethodEvent(QInputMethodEvent* event) {
    if (TypesNonDigit(event->commitString())) {
        QApplication::beep();
        // Drop the composition without inserting it.
        QInputMethodEvent cleared;
        QLineEdit::inputMethodEvent(&cleared);
        event->accept();
        return;
    }
    QLineEdit::inputMethodEvent(event);
}
