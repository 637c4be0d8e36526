#pragma once
// Helpers for driving the real Qt dialog in the tests: a window on a fresh
// program folder, and an answerer for the modal boxes it raises.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QApplication>
#include <QMessageBox>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include "support/test_support.h"
#include "ui/drop_dialog.h"
#include "qt/drop_window_qt.h"

namespace qt_testing {

// UTF-8 literal to QString.
QString Q(const char8_t* utf8);
// UTF-8 literal to code page 932.
ByteString B(const char8_t* utf8);

// Spins the event loop until done() holds or the time is up.
bool WaitUntil(const std::function<bool()>& done, int milliseconds = 10000);

// Runs `act` on the first visible top-level widget of type T, once it shows.
template <typename T>
void WhenShown(std::function<void(T&)> act) {
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, [poll, act] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* found = qobject_cast<T*>(widget);
            if (!found || !found->isVisible()) continue;
            poll->stop();
            poll->deleteLater();
            act(*found);
            return;
        }
    });
    poll->start(5);
}

// Answers every message box that becomes the active modal widget, in order,
// by clicking the button with the scripted text, and records what it saw.
// A box beyond the script is recorded, answered with its default button and
// reported as a test failure.
class BoxAnswerer : public QObject {
public:
    struct Seen {
        QString text;
        QString caption;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QStringList buttons;
        QString defaultButton;
    };

    explicit BoxAnswerer(QStringList answers);
    std::vector<Seen> seen;
    // Called for each box before it is answered.
    std::function<void(const Seen&)> onBox;

private:
    void Poll();

    QStringList answers_;
    QTimer timer_;
};

// A main window over a CDropDlg on a fresh, empty program folder.
class WindowFixture {
public:
    WindowFixture() = default;
    ~WindowFixture();

    // Writes the settings file with these lines before the window opens.
    void WriteSettings(const std::string& content);
    // Constructs the dialog object (loading the settings) and shows the window.
    DropWindow& Open(QString userGuide = QString(),
                     SteadyClock refreshClock = CDropDlg::SteadyMillisecondsClock());
    // Destroys the window (saving its settings if it has not closed yet).
    void Destroy();

    DropWindow& window() { return *window_; }
    CDropDlg& dlg() { return *dlg_; }
    QWidget* Control(int id) { return window_->Control(id); }
    // The program folder with its trailing separator.
    ByteString ProgramDir() const { return folder_.Path() + kPathSeparator; }
    const testing_support::TempFolder& folder() const { return folder_; }
    // The settings file as it is on disk now.
    DropSettings SavedSettings() const;
    bool SettingsFileExists() const;

private:
    testing_support::TempFolder folder_;
    std::unique_ptr<CDropDlg> dlg_;
    std::unique_ptr<DropWindow> window_;
};

// Text of a line edit, check state of a button.
QString TextOf(QWidget* control);
bool CheckedOf(QWidget* control);
// The check states of the main window's eight two-state buttons in binding
// order (移動, コピー, 変換, エラー, the small-file box, 削除する,
// 移動・コピーしない, 空のディレクトリは削除する), as "0" and "1".
std::string CheckStates(DropWindow& window);
// Replaces a field's text the way a user does: select all, then type.
void TypeInto(QWidget* control, const QString& text);
// Replaces a field's text by pasting from the clipboard (Ctrl+V).
void PasteInto(QWidget* control, const QString& text);
void Click(QWidget* button);

}  // namespace qt_testing
