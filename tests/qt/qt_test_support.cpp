#include "qt_test_support.h"

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include "settings/settings_file.h"
#include "qt/text_qt.h"

namespace qt_testing {

QString Q(const char8_t* utf8) { return QtText(utf8); }

ByteString B(const char8_t* utf8) { return Cp932(utf8); }

bool WaitUntil(const std::function<bool()>& done, int milliseconds) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > milliseconds) return false;
        QTest::qWait(5);
    }
    return true;
}

BoxAnswerer::BoxAnswerer(QStringList answers) : answers_(std::move(answers)) {
    connect(&timer_, &QTimer::timeout, this, &BoxAnswerer::Poll);
    timer_.start(5);
}

void BoxAnswerer::Poll() {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    // A new box may reuse the address of an answered one: mark each we answer.
    if (!box || box->property("answered").toBool()) return;
    box->setProperty("answered", true);

    Seen shown{box->text(), box->windowTitle(), box->icon(), {}, {}};
    for (QAbstractButton* button : box->buttons()) shown.buttons << button->text();
    if (box->defaultButton()) shown.defaultButton = box->defaultButton()->text();
    seen.push_back(shown);
    if (onBox) onBox(shown);

    QAbstractButton* choice = box->defaultButton();
    if (answers_.isEmpty()) {
        ADD_FAILURE() << "unexpected message box: " << shown.text.toStdString();
    } else {
        const QString wanted = answers_.takeFirst();
        for (QAbstractButton* button : box->buttons()) {
            if (button->text() == wanted) choice = button;
        }
    }
    // Clicked from the event loop, not from inside this timer slot.
    QTimer::singleShot(0, choice, &QAbstractButton::click);
}

WindowFixture::~WindowFixture() { Destroy(); }

void WindowFixture::WriteSettings(const std::string& content) {
    testing_support::WriteBytes(folder_.Join("Morvandel.sav"), content);
}

DropWindow& WindowFixture::Open(QString userGuide, SteadyClock refreshClock) {
    dlg_ = std::make_unique<CDropDlg>(ProgramDir(), [] { return int64_t{1700000000}; }, std::move(refreshClock));
    window_ = std::make_unique<DropWindow>(*dlg_, std::move(userGuide));
    window_->show();
    QApplication::setActiveWindow(window_.get());
    return *window_;
}

void WindowFixture::Destroy() {
    window_.reset();
    dlg_.reset();
}

DropSettings WindowFixture::SavedSettings() const { return LoadSettings(ProgramDir()); }

bool WindowFixture::SettingsFileExists() const { return testing_support::Exists(folder_.Join("Morvandel.sav")); }

QString TextOf(QWidget* control) { return qobject_cast<QLineEdit*>(control)->text(); }

bool CheckedOf(QWidget* control) { return qobject_cast<QAbstractButton*>(control)->isChecked(); }

std::string CheckStates(DropWindow& window) {
    std::string states;
    for (int id : {IDC_MOVE, IDC_COPY, IDC_CHANGELOG, IDC_ERRORLOG, IDC_FILEDONTMOVE, IDC_DELETE,
                   IDC_DONTMOVE, IDC_DELETEDIRECTORY}) {
        states += CheckedOf(window.Control(id)) ? '1' : '0';
    }
    return states;
}

void TypeInto(QWidget* control, const QString& text) {
    auto* edit = qobject_cast<QLineEdit*>(control);
    edit->setFocus();
    edit->selectAll();
    if (text.isEmpty()) QTest::keyClick(edit, Qt::Key_Delete);
    for (const QChar ch : text) {
        if (ch.unicode() < 0x80) {
            QTest::keyClick(edit, ch.toLatin1());
        } else {
            // Japanese arrives through the input method, as a committed string.
            QInputMethodEvent typed;
            typed.setCommitString(ch);
            QApplication::sendEvent(edit, &typed);
        }
    }
}

void PasteInto(QWidget* control, const QString& text) {
    auto* edit = qobject_cast<QLineEdit*>(control);
    QApplication::clipboard()->setText(text);
    edit->setFocus();
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
}

void Click(QWidget* button) { QTest::mouseClick(button, Qt::LeftButton); }

}  // namespace qt_testing
