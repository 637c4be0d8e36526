#pragma once
// The size field: single-line, right-aligned, and typing accepts digits only.
// Like a Windows number edit it filters keystrokes, not the text: a negative
// value from the settings file stays editable, and pasted text gets through
// to be judged (and refused with a message) when the field is read.
#include <QLineEdit>

class DigitsLineEdit : public QLineEdit {
public:
    explicit DigitsLineEdit(QWidget* parent = nullptr);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
};
