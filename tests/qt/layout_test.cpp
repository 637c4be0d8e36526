// The window is laid out from the control table under the Windows dialog-unit
// conversion, with the table's tab stops, focus rules and radio groups.
#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QFontDatabase>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <gtest/gtest.h>

#include <map>

#include "qt/about_dialog_qt.h"
#include "qt_test_support.h"
#include "qt/dialog_units_qt.h"
#include "qt/text_qt.h"

using namespace qt_testing;

TEST(DialogUnits, MulDivRoundsHalfAwayFromZeroLikeWindows) {
    EXPECT_EQ(MulDiv(281, 7, 4), 492);   // 491.75
    EXPECT_EQ(MulDiv(3, 6, 4), 5);       // 4.5 rounds up
    EXPECT_EQ(MulDiv(1, 6, 4), 2);       // 1.5 rounds up
    EXPECT_EQ(MulDiv(5, 17, 8), 11);     // 10.625
    EXPECT_EQ(MulDiv(-3, 6, 4), -5);     // -4.5 rounds away from zero
    EXPECT_EQ(MulDiv(0, 17, 8), 0);
    EXPECT_EQ(MulDiv(2147483647, 2, 4), 1073741824);  // no overflow on the way
}

TEST(DialogUnits, FontIsAJapaneseFaceThatIsInstalled) {
    const QFont font = DialogFont(kMainDialogLayout.fontName, kMainDialogLayout.fontPoints);
    const QStringList japanese = {Q(u8"ＭＳ Ｐゴシック"), QStringLiteral("MS PGothic"),
                                  QStringLiteral("Noto Sans CJK JP"), QStringLiteral("IPAPGothic"),
                                  Q(u8"IPA Pゴシック")};
    EXPECT_TRUE(japanese.contains(font.family(), Qt::CaseInsensitive)) << font.family().toStdString();
    EXPECT_EQ(font.pointSize(), 9);

    // Without the template's face, the proportional IPA gothic comes first:
    // its widths are the closest, so no label is cut.
    const QStringList installed = QFontDatabase::families();
    if (!installed.contains(QStringLiteral("MS PGothic")) && installed.contains(QStringLiteral("IPAPGothic"))) {
        EXPECT_EQ(font.family().toStdString(), "IPAPGothic");
    }
}

class LayoutTest : public ::testing::Test, public WindowFixture {};

TEST_F(LayoutTest, EveryControlSitsWhereTheTableSaysUnderTheConversion) {
    DropWindow& window = Open();
    const BuiltDialog& built = window.built();
    const DialogBaseUnits units = BaseUnitsOf(window.font());
    ASSERT_EQ(built.controls.size(), kMainDialogLayout.controls.size());
    EXPECT_EQ(window.size(), QSize(MulDiv(331, units.width, 4), MulDiv(193, units.height, 8)));
    EXPECT_EQ(window.minimumSize(), window.maximumSize()) << "fixed size";

    for (size_t i = 0; i < built.controls.size(); ++i) {
        const ControlLayout& entry = kMainDialogLayout.controls[i];
        const QRect expected(MulDiv(entry.x, units.width, 4), MulDiv(entry.y, units.height, 8),
                             MulDiv(entry.width, units.width, 4), MulDiv(entry.height, units.height, 8));
        SCOPED_TRACE(QtText(entry.text).toStdString() + " id " + std::to_string(entry.id));
        EXPECT_EQ(built.controls[i].entry, &entry);
        QWidget* widget = built.controls[i].widget;
        EXPECT_EQ(QRect(widget->mapTo(&window, QPoint()), widget->size()), expected);
    }
}

// The text a button, label or group box shows; nothing for a field.
QString ShownText(QWidget* widget) {
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) return button->text();
    if (auto* label = qobject_cast<QLabel*>(widget)) return label->text();
    if (auto* group = qobject_cast<QGroupBox*>(widget)) return group->title();
    return QString();
}

TEST_F(LayoutTest, KindsTextsAndCaptionFollowTheTable) {
    DropWindow& window = Open();
    EXPECT_EQ(window.windowTitle(), Q(u8"Tessarbolink Ver1.10    ドロップ＆ドラッグで処理を開始します。"));
    const std::map<ControlKind, const char*> classes = {
        {ControlKind::DefPushButton, "QPushButton"}, {ControlKind::PushButton, "QPushButton"},
        {ControlKind::Edit, "QLineEdit"},            {ControlKind::NumberEdit, "QLineEdit"},
        {ControlKind::Label, "QLabel"},              {ControlKind::LabelNoPrefix, "QLabel"},
        {ControlKind::GroupBox, "QGroupBox"},        {ControlKind::Radio, "QRadioButton"},
        {ControlKind::CheckBox, "QCheckBox"}};  // the main dialog has no icon
    for (const auto& placed : window.built().controls) {
        const ControlLayout& entry = *placed.entry;
        QWidget* widget = placed.widget;
        SCOPED_TRACE(QtText(entry.text).toStdString() + " id " + std::to_string(entry.id));
        ASSERT_TRUE(widget->inherits(classes.at(entry.kind))) << widget->metaObject()->className();
        EXPECT_EQ(ShownText(widget), QtText(entry.text));
        EXPECT_TRUE(widget->isEnabled()) << "no control is ever disabled";
        if (auto* button = qobject_cast<QPushButton*>(widget)) {
            EXPECT_EQ(button->isDefault(), entry.kind == ControlKind::DefPushButton);
        } else if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
            EXPECT_EQ(bool(edit->alignment() & Qt::AlignRight), entry.kind == ControlKind::NumberEdit);
            EXPECT_GT(edit->maxLength(), 1000000) << "no length limit";
        } else if (auto* label = qobject_cast<QLabel*>(widget)) {
            EXPECT_EQ(label->textFormat(), Qt::PlainText);
        } else if (auto* box = qobject_cast<QCheckBox*>(widget)) {
            EXPECT_FALSE(box->isTristate());
        }
    }
}

TEST_F(LayoutTest, EveryTextFitsItsBoxInTheChosenFont) {
    Open();
    for (const auto& placed : window().built().controls) {
        if (!placed.entry->text || placed.entry->kind == ControlKind::GroupBox) continue;
        SCOPED_TRACE(QtText(placed.entry->text).toStdString());
        EXPECT_LE(placed.widget->sizeHint().width(), placed.widget->width()) << "the text is cut";
    }
}

// The ID of the control that has the focus, or -1.
int FocusedId(DropWindow& window) {
    for (const auto& [id, widget] : window.built().byId)
        if (widget == QApplication::focusWidget()) return id;
    return -1;
}

// As the Windows dialog manager does it: Tab visits the tab stops in template
// order and a radio group at its checked button (not at all with none
// checked); Shift+Tab goes the same way back.
TEST_F(LayoutTest, TabVisitsTheTabStopsAndEachRadioGroupAtItsCheckedButton) {
    const std::vector<int> before = {1, 1000, 1001, 1008, 1009, 1010, 1011, 1012};
    const std::vector<int> between = {1015, 1016, 1017, 1018, 1019, 1020, 1021, 1022};
    const std::vector<int> after = {1025, 1026};
    const struct {
        const char* settings;
        std::vector<int> mode, dontMoveMode;
    } cases[] = {
        {"", {IDC_COPY}, {IDC_DELETE}},  // the defaults: copy, delete
        {"m_nMode=0\r\nm_nDontMoveMode=1\r\n", {IDC_MOVE}, {IDC_DONTMOVE}},
        {"m_nMode=7\r\nm_nDontMoveMode=-1\r\n", {}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.settings);
        WriteSettings(c.settings);
        DropWindow& window = Open();
        EXPECT_EQ(FocusedId(window), IDC_CLOSE) << "focus starts on the first tab stop";
        std::vector<int> expected = before;
        expected.insert(expected.end(), c.mode.begin(), c.mode.end());
        expected.insert(expected.end(), between.begin(), between.end());
        expected.insert(expected.end(), c.dontMoveMode.begin(), c.dontMoveMode.end());
        expected.insert(expected.end(), after.begin(), after.end());

        std::vector<int> visited;
        for (size_t i = 0; i < expected.size(); ++i) {
            visited.push_back(FocusedId(window));
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        }
        EXPECT_EQ(visited, expected);
        EXPECT_EQ(FocusedId(window), IDC_CLOSE) << "and wraps around";

        std::vector<int> back;
        for (size_t i = 0; i < expected.size(); ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
            back.insert(back.begin(), FocusedId(window));
        }
        EXPECT_EQ(back, expected);
        Destroy();
    }
}

// The arrow keys move the focus within a group, round its end, and check a
// radio button they reach; a text field keeps them for its caret.  The
// groups are those of the Windows template, so "クリア" shares the group of
// "移動" and "コピー", and the size field that of "削除する".
TEST_F(LayoutTest, ArrowKeysMoveWithinAGroupAndCheckTheRadioButtonReached) {
    WriteSettings("m_nMode=0\r\nm_nDontMoveMode=0\r\n");
    DropWindow& window = Open();
    const struct {
        int from;
        Qt::Key key;
        int to;
        const char* checks;  // CheckStates afterwards
    } steps[] = {
        {IDC_MOVE, Qt::Key_Down, IDC_COPY, "01000100"},
        {IDC_COPY, Qt::Key_Down, IDC_CLEAR, "01000100"},
        {IDC_CLEAR, Qt::Key_Down, IDC_MOVE, "10000100"},  // round the group
        {IDC_MOVE, Qt::Key_Up, IDC_CLEAR, "10000100"},
        {IDC_CLEAR, Qt::Key_Left, IDC_COPY, "01000100"},
        {IDC_COPY, Qt::Key_Right, IDC_CLEAR, "01000100"},
        {IDC_DELETE, Qt::Key_Down, IDC_DONTMOVE, "01000010"},
        {IDC_DONTMOVE, Qt::Key_Up, IDC_DELETE, "01000100"},
        {IDC_DONTMOVE, Qt::Key_Down, IDC_KBYTES, "01000100"},  // the size field is in the group
        {IDC_KBYTES, Qt::Key_Down, IDC_KBYTES, "01000100"},
        {IDC_CLOSE, Qt::Key_Down, IDC_WHERE, "01000100"},
        {IDC_CHANGELOG, Qt::Key_Down, IDC_ERRORLOG, "01000100"},  // a check box is not toggled
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(std::to_string(step.from) + " key " + std::to_string(step.key));
        Control(step.from)->setFocus(Qt::OtherFocusReason);
        QTest::keyClick(Control(step.from), step.key);
        EXPECT_EQ(FocusedId(window), step.to);
        EXPECT_EQ(CheckStates(window), step.checks);
    }
}

// Screen readers: each text field is named by its label, and the radio
// buttons and check boxes are grouped under their group box's title.
TEST_F(LayoutTest, FieldsAreNamedAndButtonsGroupedForScreenReaders) {
    Open();
    const std::pair<int, const char8_t*> names[] = {
        {IDC_WHERE, u8"ファイル格納先："}, {IDC_FORMAT, u8"【ファイル名変換形式】"}, {IDC_KBYTES, u8"キロ バイト"}};
    for (const auto& [id, name] : names) {
        QAccessibleInterface* field = QAccessible::queryAccessibleInterface(Control(id));
        ASSERT_NE(field, nullptr);
        EXPECT_EQ(field->role(), QAccessible::EditableText) << id;
        EXPECT_EQ(field->text(QAccessible::Name), Q(name)) << id;
    }
    const std::pair<int, const char8_t*> groups[] = {
        {IDC_MOVE, u8"動作モード"},  {IDC_COPY, u8"動作モード"},     {IDC_CHANGELOG, u8"ログを取る"},
        {IDC_ERRORLOG, u8"ログを取る"}, {IDC_FILEDONTMOVE, u8"その他"}, {IDC_DELETE, u8"その他"},
        {IDC_DONTMOVE, u8"その他"},   {IDC_DELETEDIRECTORY, u8"その他"}};
    for (const auto& [id, title] : groups) {
        QAccessibleInterface* button = QAccessible::queryAccessibleInterface(Control(id));
        ASSERT_NE(button, nullptr);
        QAccessibleInterface* group = button->parent();
        ASSERT_NE(group, nullptr) << id;
        EXPECT_EQ(group->role(), QAccessible::Grouping) << id;
        EXPECT_EQ(group->text(QAccessible::Name), Q(title)) << id;
    }
}

TEST_F(LayoutTest, RadioButtonsFormTwoGroupsThatCanShowNoneSelected) {
    WriteSettings("m_nMode=7\r\nm_nDontMoveMode=1\r\n");
    Open();
    auto* move = qobject_cast<QAbstractButton*>(Control(IDC_MOVE));
    auto* del = qobject_cast<QAbstractButton*>(Control(IDC_DELETE));
    ASSERT_NE(move->group(), nullptr);
    EXPECT_EQ(move->group(), qobject_cast<QAbstractButton*>(Control(IDC_COPY))->group());
    EXPECT_EQ(del->group(), qobject_cast<QAbstractButton*>(Control(IDC_DONTMOVE))->group());
    EXPECT_NE(move->group(), del->group());
    EXPECT_TRUE(move->group()->exclusive());

    // Mode 7 is no index: neither "移動" nor "コピー" is selected.
    EXPECT_EQ(CheckStates(window()), "00000010");

    // Choosing one in a group leaves the other group alone.
    Click(Control(IDC_MOVE));
    Click(Control(IDC_DELETE));
    EXPECT_EQ(CheckStates(window()), "10000100");

    // Arrow keys move the choice within a group, never into the other one.
    Control(IDC_MOVE)->setFocus();
    QTest::keyClick(Control(IDC_MOVE), Qt::Key_Down);
    EXPECT_EQ(QApplication::focusWidget(), Control(IDC_COPY));
    QTest::keyClick(Control(IDC_COPY), Qt::Key_Down);
    EXPECT_EQ(CheckStates(window()), "01000100");
    Click(Control(IDC_MOVE));

    // A push of a value that is no index clears a group that shows a choice.
    dlg().settings().m_nDontMoveMode = -1;
    Click(Control(IDC_CLEAR));
    EXPECT_EQ(CheckStates(window()), "01000000") << "m_nMode is the 1 that initialization set";
    EXPECT_TRUE(del->group()->exclusive()) << "and the group stays exclusive";
}

TEST_F(LayoutTest, ClicksReachControlsUnderGroupBoxes) {
    Open();
    // "変換" lies inside the group box "ログを取る", which was created before it,
    // and "移動・コピーしない" inside "その他", created before it too; the
    // checks go through the real hit test of the window.
    for (int id : {IDC_CHANGELOG, IDC_DONTMOVE, IDC_DELETEDIRECTORY}) {
        QWidget* control = Control(id);
        const QPoint centre = control->mapTo(&window(), control->rect().center());
        EXPECT_EQ(window().childAt(centre), control) << id;
    }
}

TEST_F(LayoutTest, AboutBoxIsLaidOutFromItsTable) {
    Open();
    CAboutDlg about(&window(), QString());
    const DialogBaseUnits units = BaseUnitsOf(about.font());
    EXPECT_EQ(about.windowTitle(), Q(u8"Tessarbolinkのﾊﾞｰｼﾞｮﾝ情報"));
    EXPECT_EQ(about.size(), QSize(MulDiv(235, units.width, 4), MulDiv(55, units.height, 8)));
    auto* ok = qobject_cast<QPushButton*>(about.Control(IDC_CLOSE));
    ASSERT_NE(ok, nullptr);
    EXPECT_EQ(ok->text(), QStringLiteral("OK"));
    EXPECT_TRUE(ok->isDefault());
    EXPECT_EQ(ok->geometry(), QRect(MulDiv(178, units.width, 4), MulDiv(34, units.height, 8),
                                    MulDiv(50, units.width, 4), MulDiv(14, units.height, 8)));
    const auto& controls = about.built().controls;
    ASSERT_EQ(controls.size(), 4u);
    auto* icon = qobject_cast<QLabel*>(controls[0].widget);
    ASSERT_NE(icon, nullptr);
    EXPECT_FALSE(icon->pixmap().isNull()) << "the application icon is compiled in";
    EXPECT_EQ(icon->pos(), QPoint(MulDiv(11, units.width, 4), MulDiv(17, units.height, 8)));
    EXPECT_EQ(qobject_cast<QLabel*>(controls[1].widget)->text(), QStringLiteral("Tessarbolink Version 1.10"));
}
