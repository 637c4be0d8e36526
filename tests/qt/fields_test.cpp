// Typing into the real fields, the format buttons, what a push does to the
// fields, and how the window closes: "閉じる(&C)" pulls the controls first,
// Esc and the close box do not; either way the settings file is written once
// the window has closed.
#include <QAbstractButton>
#include <QCloseEvent>
#include <QLineEdit>
#include <QTest>
#include <gtest/gtest.h>

#include "qt_test_support.h"
#include "qt/text_qt.h"

using namespace qt_testing;

class FieldsTest : public ::testing::Test, public WindowFixture {};

// Every member changes between the loaded and the saved file, so a control
// that is not pushed or not pulled shows.
TEST_F(FieldsTest, SettingsFillTheControlsAndTheCloseButtonSavesWhatWasTypedAndClicked) {
    WriteSettings(std::string("m_sWhere=") + B(u8"/tmp/格納先/") + "\r\nm_sFileNameFormat=" + B(u8"[連番]_表") +
                  "\r\nm_nMode=1\r\nm_bChangeLog=1\r\nm_bErrorLog=0\r\nm_bFileDontMove=1\r\n"
                  "m_nKBytes=-25\r\nm_nDontMoveMode=1\r\nm_bDeleteDerectory=1\r\n");
    Open();
    EXPECT_EQ(TextOf(Control(IDC_WHERE)), Q(u8"/tmp/格納先/"));
    EXPECT_EQ(TextOf(Control(IDC_FORMAT)), Q(u8"[連番]_表"));
    EXPECT_EQ(TextOf(Control(IDC_KBYTES)), QStringLiteral("-25"));
    EXPECT_EQ(CheckStates(window()), "01101011");

    TypeInto(Control(IDC_WHERE), Q(u8"/srv/写真/"));
    TypeInto(Control(IDC_FORMAT), Q(u8"x[連番]"));
    TypeInto(Control(IDC_KBYTES), QStringLiteral("250"));
    for (int id : {IDC_MOVE, IDC_CHANGELOG, IDC_ERRORLOG, IDC_FILEDONTMOVE, IDC_DELETE,
                   IDC_DELETEDIRECTORY}) {
        Click(Control(id));
    }
    Click(Control(IDC_CLOSE));

    EXPECT_FALSE(window().isVisible());
    const DropSettings saved = SavedSettings();
    EXPECT_EQ(saved.m_sWhere, B(u8"/srv/写真/"));
    EXPECT_EQ(saved.m_sFileNameFormat, B(u8"x[連番]"));
    EXPECT_EQ(saved.m_nMode, 0);
    EXPECT_EQ(saved.m_bChangeLog, 0);
    EXPECT_EQ(saved.m_bErrorLog, 1);
    EXPECT_EQ(saved.m_bFileDontMove, 0);
    EXPECT_EQ(saved.m_nKBytes, 250);
    EXPECT_EQ(saved.m_nDontMoveMode, 0);
    EXPECT_EQ(saved.m_bDeleteDerectory, 0);
}

TEST_F(FieldsTest, EnterInAFieldPressesTheCloseButtonButEnterOnAnotherButtonPressesThatOne) {
    Open();
    TypeInto(Control(IDC_FORMAT), QStringLiteral("a"));
    Control(IDC_UNDERBAR)->setFocus();
    QTest::keyClick(Control(IDC_UNDERBAR), Qt::Key_Return);
    EXPECT_EQ(TextOf(Control(IDC_FORMAT)), QStringLiteral("a_"));
    EXPECT_TRUE(window().isVisible());

    TypeInto(Control(IDC_WHERE), QStringLiteral("/dest/"));
    QTest::keyClick(Control(IDC_WHERE), Qt::Key_Return);
    EXPECT_FALSE(window().isVisible());
    EXPECT_EQ(window().result(), IDC_CLOSE);
    EXPECT_EQ(SavedSettings().m_sWhere, "/dest/");
}

// The settings are saved as the window closes, before it is destroyed.
TEST_F(FieldsTest, EscapeAndTheCloseBoxCloseWithoutPullingSoEditsAreLostAndTheModeIsSavedAsOne) {
    for (const bool closeBox : {false, true}) {
        SCOPED_TRACE(closeBox ? "close box" : "Esc");
        Destroy();
        WriteSettings("m_sWhere=/old/\r\nm_nMode=0\r\n");
        Open();
        ASSERT_TRUE(CheckedOf(Control(IDC_MOVE)));
        TypeInto(Control(IDC_WHERE), QStringLiteral("/typed/"));
        Click(Control(IDC_CHANGELOG));
        if (closeBox) {
            EXPECT_TRUE(window().close());
        } else {
            QTest::keyClick(Control(IDC_WHERE), Qt::Key_Escape);
        }

        EXPECT_FALSE(window().isVisible());
        EXPECT_EQ(window().result(), IDC_CANCEL);
        const DropSettings saved = SavedSettings();
        EXPECT_EQ(saved.m_sWhere, "/old/");
        EXPECT_EQ(saved.m_bChangeLog, 0);
        EXPECT_EQ(saved.m_nMode, 1) << "initialization set it to 1; only a pull reads the radio buttons";
    }
}

TEST_F(FieldsTest, CloseButtonWithABadSizeSaysSoAndStaysOpen) {
    Open();
    PasteInto(Control(IDC_KBYTES), QStringLiteral("12kB"));
    BoxAnswerer answerer({QStringLiteral("OK")});
    Click(Control(IDC_CLOSE));

    ASSERT_EQ(answerer.seen.size(), 1u);
    EXPECT_EQ(answerer.seen[0].text, Q(u8"整数を入力してください。"));
    EXPECT_EQ(answerer.seen[0].caption, QtText(CDropDlg::ProgramName()));
    EXPECT_EQ(answerer.seen[0].icon, QMessageBox::Warning);
    EXPECT_EQ(answerer.seen[0].buttons, QStringList{QStringLiteral("OK")});
    EXPECT_TRUE(window().isVisible());
    EXPECT_FALSE(SettingsFileExists());
    EXPECT_EQ(window().focusWidget(), Control(IDC_KBYTES)) << "the field gets the focus back";
    EXPECT_EQ(qobject_cast<QLineEdit*>(Control(IDC_KBYTES))->selectedText(), QStringLiteral("12kB"));
}

TEST_F(FieldsTest, SizeFieldTakesOnlyDigitsFromTheKeyboard) {
    Open();
    TypeInto(Control(IDC_KBYTES), QStringLiteral("1a2-3 .4"));
    EXPECT_EQ(TextOf(Control(IDC_KBYTES)), QStringLiteral("1234"));
    TypeInto(Control(IDC_KBYTES), Q(u8"５6"));  // full-width digits from the input method too
    EXPECT_EQ(TextOf(Control(IDC_KBYTES)), QStringLiteral("6"));
    // Pasted text is not filtered; reading the field judges it.
    PasteInto(Control(IDC_KBYTES), QStringLiteral(" -7"));
    EXPECT_EQ(TextOf(Control(IDC_KBYTES)), QStringLiteral(" -7"));
    Click(Control(IDC_CLOSE));
    EXPECT_EQ(SavedSettings().m_nKBytes, -7);
}

TEST_F(FieldsTest, FormatButtonsAppendTheirTokensAtTheEndNotAtTheCaret) {
    WriteSettings("m_sFileNameFormat=\r\n");
    Open();
    // Every push button is wired alike; each token is checked by the dialog's own test.
    const std::vector<std::pair<int, const char8_t*>> buttons = {
        {IDC_EXTENSION, u8".[拡張子]"}, {IDC_UNDERBAR, u8"_"}, {IDC_SERIAL, u8"[連番]"}};
    QString expected = QStringLiteral("ab");
    TypeInto(Control(IDC_FORMAT), expected);
    for (const auto& [id, token] : buttons) {
        auto* format = qobject_cast<QLineEdit*>(Control(IDC_FORMAT));
        format->setCursorPosition(1);
        Click(Control(id));
        expected += Q(token);
        EXPECT_EQ(format->text(), expected) << id;
    }
    EXPECT_EQ(dlg().settings().m_sFileNameFormat, Cp932Shown(expected));
}

TEST_F(FieldsTest, APushKeepsTheCaretOfAnUnchangedFieldUnlessItsTextIsLong) {
    const ByteString longWhere = "/" + std::string(255, 'w') + "/";  // 257 bytes: always set
    WriteSettings("m_sWhere=" + longWhere + "\r\nm_sFileNameFormat=" + B(u8"[連番]") + "\r\n");
    Open();
    auto* where = qobject_cast<QLineEdit*>(Control(IDC_WHERE));
    auto* format = qobject_cast<QLineEdit*>(Control(IDC_FORMAT));
    where->setCursorPosition(3);
    format->setCursorPosition(1);
    Click(Control(IDC_HYPHEN));  // pulls, appends "-" to the format, pushes
    EXPECT_EQ(format->text(), Q(u8"[連番]-"));
    EXPECT_EQ(where->text(), QtText(longWhere));
    EXPECT_EQ(where->cursorPosition(), where->text().size()) << "a long text is set again";

    Destroy();
    WriteSettings("m_sWhere=/short/\r\n");
    Open();
    where = qobject_cast<QLineEdit*>(Control(IDC_WHERE));
    where->setCursorPosition(3);
    Click(Control(IDC_HYPHEN));
    EXPECT_EQ(where->cursorPosition(), 3) << "an unchanged short text is left alone";
}

TEST_F(FieldsTest, CharactersWithoutAShiftJisFormAreRefused) {
    Open();
    TypeInto(Control(IDC_FORMAT), Q(u8"a€b😀c"));
    BoxAnswerer answerer({QStringLiteral("OK")});
    Click(Control(IDC_CLOSE));
    ASSERT_EQ(answerer.seen.size(), 1u);
    EXPECT_EQ(answerer.seen[0].text, Q(u8"シフトJISで表せない文字が含まれています。"));
    EXPECT_TRUE(window().isVisible()) << "the window stays open";
}

TEST_F(FieldsTest, BytesThatFormNoCharacterAreShownAsReplacementsNotDropped) {
    WriteSettings(std::string("m_sFileNameFormat=a\x81\x20") + B(u8"表") + "\r\n");
    Open();
    EXPECT_EQ(TextOf(Control(IDC_FORMAT)), QString(u8"a\uFFFD ") + Q(u8"表"));
}
