#include "qt/message_box_qt.h"

#include <QMessageBox>
#include <QPushButton>

#include "qt/text_qt.h"

namespace {

QMessageBox::Icon QtIcon(MessageIcon icon) {
    switch (icon) {
    case MessageIcon::None: return QMessageBox::NoIcon;
    case MessageIcon::Exclamation: return QMessageBox::Warning;
    case MessageIcon::Stop: return QMessageBox::Critical;
    }
    return QMessageBox::NoIcon;
}

}  // namespace

MessageResult RunMessageBox(QWidget* owner, const QString& text, const QString& caption,
                            MessageButtons buttons, MessageIcon icon) {
    QMessageBox box(QtIcon(icon), caption, text, QMessageBox::NoButton, owner);
    box.setTextFormat(Qt::PlainText);
    if (buttons == MessageButtons::Ok) {
        box.setDefaultButton(box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole));
        box.exec();
        return MessageResult::Ok;
    }
    // Yes is the default; Esc and the close box answer No.
    QPushButton* yes = box.addButton(QtText(u8"はい(&Y)"), QMessageBox::YesRole);
    QPushButton* no = box.addButton(QtText(u8"いいえ(&N)"), QMessageBox::NoRole);
    box.setDefaultButton(yes);
    box.setEscapeButton(no);
    box.exec();
    return box.clickedButton() == yes ? MessageResult::Yes : MessageResult::No;
}
