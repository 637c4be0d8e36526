// Drops of file: URLs onto the real window run a batch, whose message boxes
// the test answers; other drags are refused.
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>

#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLineEdit>
#include <QMenu>
#include <QTest>
#include <QMimeData>
#include <QTimer>
#include <QUrl>
#include <gtest/gtest.h>

#include "batch/journal.h"
#include "qt_test_support.h"
#include "support/child_process.h"
#include "qt/text_qt.h"

using namespace qt_testing;
using testing_support::Exists;
using testing_support::MakeFolder;
using testing_support::NamesIn;
using testing_support::WriteBytes;

namespace {

QUrl UrlOf(const ByteString& cp932Path) { return QUrl::fromLocalFile(QtText(cp932Path)); }

// Offers the data to the window as a drag that enters it; true when accepted.
bool DragEnters(QWidget& window, const QMimeData& data) {
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&window, &enter);
    return enter.isAccepted();
}

// Drags the data in and drops it, as a file manager does; returns the action
// the window took (IgnoreAction if it refused the drag or the drop).
Qt::DropAction Drops(QWidget& window, const QMimeData& data) {
    if (!DragEnters(window, data)) return Qt::IgnoreAction;
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&window, &drop);
    return drop.isAccepted() ? drop.dropAction() : Qt::IgnoreAction;
}

QMimeData* Urls(const QList<QUrl>& urls) {
    auto* data = new QMimeData;
    data->setUrls(urls);
    return data;
}

}  // namespace

class DropTest : public ::testing::Test, public WindowFixture {
protected:
    // Settings for a move into <folder>/dest/ under "new_" + the old name.
    void MoveIntoDest() {
        WriteSettings("m_sWhere=" + Dest() + "/\r\nm_sFileNameFormat=new_" + B(u8"[ファイルタイトル].[拡張子]") +
                      "\r\nm_nMode=0\r\n");
    }
    ByteString Dest() const { return folder().Join("dest"); }
    ByteString Source(const ByteString& name) const { return folder().Join("src") + kPathSeparator + name; }
    void SetUp() override { MakeFolder(folder().Join("src")); }
};

TEST_F(DropTest, DroppedFilesAndFoldersAreMovedAfterYesAndTheCountsShown) {
    MoveIntoDest();
    WriteBytes(Source("alpha.txt"), "alpha");
    MakeFolder(Source("sub"));
    WriteBytes(Source("sub") + kPathSeparator + B(u8"写真.txt"), "beta");
    Open();

    BoxAnswerer answerer({Q(u8"はい(&Y)"), QStringLiteral("OK")});
    QString titleAtResult;
    answerer.onBox = [&](const BoxAnswerer::Seen&) { titleAtResult = window().windowTitle(); };
    std::unique_ptr<QMimeData> data(Urls({UrlOf(Source("alpha.txt")), UrlOf(Source("sub") + "/")}));
    ASSERT_TRUE(DragEnters(window(), *data));
    EXPECT_EQ(Drops(window(), *data), Qt::CopyAction) << "the source is never asked to delete anything";
    EXPECT_TRUE(answerer.seen.empty()) << "the drop is released before the first box";
    ASSERT_TRUE(WaitUntil([&] { return !window().BatchRunning(); }));

    ASSERT_EQ(answerer.seen.size(), 2u);
    EXPECT_EQ(answerer.seen[0].text, Q(u8"実行しますか？"));
    EXPECT_EQ(answerer.seen[0].caption, Q(u8"移動処理"));
    EXPECT_EQ(answerer.seen[0].icon, QMessageBox::NoIcon);
    EXPECT_EQ(answerer.seen[0].buttons, (QStringList{Q(u8"はい(&Y)"), Q(u8"いいえ(&N)")}));
    EXPECT_EQ(answerer.seen[0].defaultButton, Q(u8"はい(&Y)"));
    EXPECT_EQ(answerer.seen[1].text, Q(u8"成功：2　失敗：0　トータル：2"));
    EXPECT_EQ(answerer.seen[1].caption, Q(u8"結果"));
    EXPECT_EQ(answerer.seen[1].buttons, QStringList{QStringLiteral("OK")});
    EXPECT_EQ(titleAtResult, QStringLiteral("Tessarbolink  2 0 2")) << "the title shows the counts during the batch";
    EXPECT_EQ(window().windowTitle(), QStringLiteral("Tessarbolink  2 0 2"));

    EXPECT_EQ(NamesIn(Dest()), (std::vector<ByteString>{"new_alpha.txt", B(u8"new_写真.txt")}));
    EXPECT_FALSE(Exists(Source("alpha.txt")));
    EXPECT_EQ(testing_support::ReadBytes(Dest() + kPathSeparator + "new_alpha.txt"), "alpha");
}

TEST_F(DropTest, WhileTheBatchRunsTheWindowRefreshesWithTheGrowingCounts) {
    MoveIntoDest();
    for (const char* name : {"a", "b", "c", "d"}) WriteBytes(Source(name), name);
    // A clock on which every title is due.
    int64_t now = 0;
    Open(QString(), [&] { return now += CDropDlg::kTitleRefreshMilliseconds; });
    BoxAnswerer answerer({Q(u8"はい(&Y)"), QStringLiteral("OK")});
    // The counts the window showed between the question and the result.
    QStringList seenMidBatch;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        const QString title = window().windowTitle();
        if (answerer.seen.size() != 1 || !title.startsWith(QStringLiteral("Tessarbolink  "))) return;
        const QString counts = title.mid(14);
        if (seenMidBatch.isEmpty() || seenMidBatch.back() != counts) seenMidBatch << counts;
    });
    watch.start(0);
    std::unique_ptr<QMimeData> data(Urls({UrlOf(folder().Join("src"))}));
    Drops(window(), *data);
    ASSERT_TRUE(WaitUntil([&] { return !window().BatchRunning(); }));
    EXPECT_EQ(seenMidBatch.join(u',').toStdString(), "1 0 1,2 0 2,3 0 3,4 0 4")
        << "the window's own events ran after every title";
}

TEST_F(DropTest, FilesDroppedOnAFieldStartABatchAndLeaveTheFieldAloneAndNoLeavesTheFiles) {
    // File managers offer their paths as plain text too; the fields must not
    // take them as typed text: the whole window is the drop target.
    MoveIntoDest();
    WriteBytes(Source("alpha.txt"), "alpha");
    Open();
    BoxAnswerer answerer({Q(u8"いいえ(&N)"), Q(u8"いいえ(&N)"), Q(u8"いいえ(&N)")});
    std::unique_ptr<QMimeData> data(Urls({UrlOf(Source("alpha.txt"))}));
    data->setText(QtText(Source("alpha.txt")));
    for (int field : {IDC_WHERE, IDC_FORMAT, IDC_KBYTES}) {
        const QString before = TextOf(Control(field));
        EXPECT_EQ(Drops(*Control(field), *data), Qt::CopyAction) << field;
        EXPECT_TRUE(window().BatchRunning()) << "the batch runs once the drop has been released";
        ASSERT_TRUE(WaitUntil([&] { return !window().BatchRunning(); }));
        EXPECT_EQ(TextOf(Control(field)), before) << field;
    }
    EXPECT_EQ(answerer.seen.size(), 3u) << "each drop asked to run a batch";
    EXPECT_TRUE(Exists(Source("alpha.txt")));
    EXPECT_FALSE(Exists(Dest()));
}

TEST_F(DropTest, APathWithoutAShiftJisFormIsAFailureAndIsNotTouched) {
    MoveIntoDest();
    WriteBytes(Source("alpha.txt"), "alpha");
    const std::filesystem::path foreign = testing_support::NativePath(folder().Join("src")) / u8"é€x.txt";
    { std::ofstream(foreign) << "gamma"; }
    Open();
    BoxAnswerer answerer({Q(u8"はい(&Y)"), QStringLiteral("OK")});
    const QUrl foreignUrl = QUrl::fromLocalFile(QString::fromStdU16String(foreign.u16string()));
    std::unique_ptr<QMimeData> data(Urls({foreignUrl, UrlOf(Source("alpha.txt"))}));
    Drops(window(), *data);
    ASSERT_TRUE(WaitUntil([&] { return !window().BatchRunning(); }));
    ASSERT_EQ(answerer.seen.size(), 2u);
    EXPECT_EQ(answerer.seen[1].text, Q(u8"成功：1　失敗：1　トータル：2"));
    EXPECT_TRUE(std::filesystem::exists(foreign));
    EXPECT_EQ(NamesIn(Dest()), std::vector<ByteString>{"new_alpha.txt"});
}

TEST_F(DropTest, DroppedPathsKeepTheirOrderAndLoseTrailingSlashes) {
    const std::vector<DroppedPath> paths = DroppedPathsOf(
        {QUrl::fromLocalFile(Q(u8"/tmp/表/")), QUrl::fromLocalFile(QStringLiteral("/tmp/b.txt")),
         QUrl::fromLocalFile(Q(u8"/tmp/x€y")), QUrl::fromLocalFile(QStringLiteral("/")),
         QUrl(QStringLiteral("file://localhost/tmp/c.txt"))});
    ASSERT_EQ(paths.size(), 5u);
    EXPECT_EQ(paths[0].path, B(u8"/tmp/表"));
    EXPECT_TRUE(paths[0].convertible);
    EXPECT_EQ(paths[1].path, "/tmp/b.txt");
    EXPECT_EQ(paths[2].path, "/tmp/x?y");
    EXPECT_FALSE(paths[2].convertible);
    EXPECT_EQ(paths[3].path, "/") << "the root keeps its only slash";
    EXPECT_EQ(paths[4].path, "/tmp/c.txt");
}

TEST_F(DropTest, DragsOfAnythingButLocalFilesAreRefused) {
    Open();
    QMimeData text;
    text.setText(QStringLiteral("/tmp/a.txt"));
    EXPECT_FALSE(DragEnters(window(), text));

    // Qt would read the last three as other local paths: "//host/tmp/a.txt"
    // (that is /host/tmp/a.txt), a path relative to the working folder, /tmp/a/b.
    const QStringList refused[] = {{},
                                   {"https://example.org/a.txt"},
                                   {"file:///tmp/a.txt", "sftp://host/b"},
                                   {"file://otherhost/tmp/a.txt"},
                                   {"file:tmp/a.txt"},
                                   {"file:///tmp/a%2Fb"}};
    for (const QStringList& urls : refused) {
        std::unique_ptr<QMimeData> data(Urls(QUrl::fromStringList(urls)));
        EXPECT_FALSE(DragEnters(window(), *data)) << urls.join(u' ').toStdString();
    }

    // A source that can only move might delete its files once told they moved.
    std::unique_ptr<QMimeData> local(Urls({QUrl::fromLocalFile(QStringLiteral("/tmp/a.txt"))}));
    QDragEnterEvent moveOnly(QPoint(10, 10), Qt::MoveAction, local.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&window(), &moveOnly);
    EXPECT_FALSE(moveOnly.isAccepted());
    EXPECT_FALSE(window().BatchRunning());
}

TEST_F(DropTest, ASecondDropWhileABatchRunsIsRefused) {
    MoveIntoDest();
    WriteBytes(Source("alpha.txt"), "alpha");
    WriteBytes(Source("beta.txt"), "beta");
    Open();
    BoxAnswerer answerer({Q(u8"はい(&Y)"), QStringLiteral("OK")});
    std::unique_ptr<QMimeData> first(Urls({UrlOf(Source("alpha.txt"))}));
    std::unique_ptr<QMimeData> second(Urls({UrlOf(Source("beta.txt"))}));
    bool secondAccepted = true;
    answerer.onBox = [&](const BoxAnswerer::Seen& box) {
        if (box.text == Q(u8"実行しますか？")) secondAccepted = DragEnters(window(), *second);
    };
    Drops(window(), *first);
    ASSERT_TRUE(WaitUntil([&] { return !window().BatchRunning(); }));
    EXPECT_FALSE(secondAccepted);
    EXPECT_EQ(answerer.seen.size(), 2u);
    EXPECT_TRUE(Exists(Source("beta.txt")));
    EXPECT_TRUE(DragEnters(window(), *second)) << "accepted again once the batch is over";
}

TEST_F(DropTest, AfterABatchTheCloseBoxSavesTheDestinationWithTheSeparatorTheBatchAdded) {
    WriteSettings("m_sWhere=" + Dest() + "\r\nm_sFileNameFormat=" + B(u8"[ファイルタイトル].[拡張子]") + "\r\n");
    WriteBytes(Source("alpha.txt"), "alpha");
    Open();
    BoxAnswerer answerer({Q(u8"はい(&Y)"), QStringLiteral("OK")});
    std::unique_ptr<QMimeData> data(Urls({UrlOf(Source("alpha.txt"))}));
    Drops(window(), *data);
    ASSERT_TRUE(WaitUntil([&] { return !window().BatchRunning(); }));
    EXPECT_EQ(NamesIn(Dest()), std::vector<ByteString>{"alpha.txt"});
    EXPECT_EQ(TextOf(Control(IDC_WHERE)), QtText(Dest())) << "the field keeps its text";
    window().close();
    EXPECT_EQ(SavedSettings().m_sWhere, Dest() + kPathSeparator);
}

// The undo item of the right-click menu is greyed until a batch has acted;
// Ctrl+Z in a text field stays the field's own undo; Ctrl+Z elsewhere and the
// item undo the batch through the real window.
TEST_F(DropTest, TheUndoItemAndCtrlZUndoTheLastBatch) {
    MoveIntoDest();
    WriteBytes(Source("alpha.txt"), "alpha");
    Open();
    const auto menuItemEnabled = [&](bool choose) {
        std::optional<bool> enabled;
        WhenShown<QMenu>([&](QMenu& menu) {
            QAction* undo = menu.actions().value(1);
            enabled = undo && undo->text() == Q(u8"直前の処理を元に戻す(&U)") && undo->isEnabled();
            if (choose && *enabled) {
                menu.setActiveAction(undo);
                QTest::keyClick(&menu, Qt::Key_Return);
            } else {
                menu.close();
            }
        });
        QContextMenuEvent rightClick(QContextMenuEvent::Mouse, QPoint(5, 5), window().mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(&window(), &rightClick);
        return enabled;
    };
    EXPECT_EQ(menuItemEnabled(false), std::optional<bool>(false));

    {
        BoxAnswerer answerer({Q(u8"はい(&Y)"), QStringLiteral("OK")});
        std::unique_ptr<QMimeData> data(Urls({UrlOf(Source("alpha.txt"))}));
        Drops(window(), *data);
        ASSERT_TRUE(WaitUntil([&] { return !window().BatchRunning() && answerer.seen.size() == 2; }));
    }
    ASSERT_TRUE(Exists(Dest() + "/new_alpha.txt"));

    // Shortcuts reach only the active window.
    window().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window()));
    // In a field, Ctrl+Z undoes the typing and nothing else.
    auto* format = qobject_cast<QLineEdit*>(Control(IDC_FORMAT));
    const QString typed = format->text();
    format->setFocus();
    QTest::keyClicks(format, QStringLiteral("x"));
    QTest::keyClick(format, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(format->text(), typed);
    EXPECT_TRUE(Exists(Dest() + "/new_alpha.txt"));

    {
        BoxAnswerer answerer({Q(u8"いいえ(&N)")});
        Control(IDC_CLOSE)->setFocus();
        QTest::keyClick(Control(IDC_CLOSE), Qt::Key_Z, Qt::ControlModifier);
        ASSERT_TRUE(WaitUntil([&] { return answerer.seen.size() == 1; }));
        EXPECT_EQ(answerer.seen[0].text, Q(u8"直前の処理を元に戻しますか？"));
        EXPECT_EQ(answerer.seen[0].caption, Q(u8"元に戻す"));
    }
    EXPECT_TRUE(Exists(Dest() + "/new_alpha.txt")) << "answered No";

    BoxAnswerer answerer({Q(u8"はい(&Y)"), QStringLiteral("OK")});
    EXPECT_EQ(menuItemEnabled(true), std::optional<bool>(true));
    ASSERT_TRUE(WaitUntil([&] { return answerer.seen.size() == 2; }));
    EXPECT_EQ(answerer.seen[1].text, Q(u8"戻した：1　戻せない：0"));
    EXPECT_EQ(window().windowTitle(), QStringLiteral("Tessarbolink  1 0 1"));
    EXPECT_TRUE(Exists(Source("alpha.txt")));
    EXPECT_TRUE(NamesIn(Dest()).empty());
    EXPECT_EQ(menuItemEnabled(false), std::optional<bool>(false));
}

// ---------------------------------------------------------------------------
// Undo and its journal, through the real window

class UndoWindowTest : public DropTest {
protected:
    void Settings(const std::string& extra) {
        WriteSettings("m_sWhere=" + Dest() + "/\r\nm_sFileNameFormat=new_" + B(u8"[ファイルタイトル].[拡張子]") +
                      "\r\n" + extra);
    }
    // Drops the paths and answers the boxes; what they said, in order.
    std::vector<BoxAnswerer::Seen> Drop(const QList<QUrl>& urls, const QStringList& answers) {
        BoxAnswerer answerer(answers);
        std::unique_ptr<QMimeData> data(Urls(urls));
        Drops(window(), *data);
        EXPECT_TRUE(WaitUntil([&] { return !window().BatchRunning() && answerer.seen.size() >= size_t(answers.size()); }));
        return answerer.seen;
    }
    std::vector<BoxAnswerer::Seen> Undo(const QStringList& answers) {
        BoxAnswerer answerer(answers);
        window().Undo();
        return answerer.seen;
    }
    std::string Native(const ByteString& path) const { return testing_support::NativePath(path).string(); }
    const QString yes = Q(u8"はい(&Y)"), no = Q(u8"いいえ(&N)"), ok = QStringLiteral("OK");
};

TEST_F(UndoWindowTest, ACopyWhoseSourceWasDeletedSinceIsKept) {
    Settings("m_nMode=1\r\n");
    WriteBytes(Source("alpha.txt"), "alpha");
    Open();
    Drop({UrlOf(Source("alpha.txt"))}, {yes, ok});
    std::filesystem::remove(Native(Source("alpha.txt")));
    const auto seen = Undo({yes, ok});
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[1].text, Q(u8"戻した：0　戻せない：1"));
    EXPECT_EQ(testing_support::ReadBytes(Dest() + "/new_alpha.txt"), "alpha");
}

TEST_F(UndoWindowTest, AFolderMadeAgainByAnotherUserDoesNotTakeTheFilesBack) {
    Settings("m_nMode=0\r\nm_bDeleteDerectory=1\r\n");
    MakeFolder(Source("drop"));
    WriteBytes(Source("drop") + "/alpha.txt", "alpha");
    Open();
    Drop({UrlOf(Source("drop"))}, {yes, ok});
    ASSERT_FALSE(Exists(Source("drop")));
    std::filesystem::create_directory(Native(Source("drop")));
    ASSERT_EQ(chown(Native(Source("drop")).c_str(), testing_support::kNobodyId, testing_support::kNobodyId), 0);
    const auto seen = Undo({yes, ok});
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[1].text, Q(u8"戻した：0　戻せない：1"));
    EXPECT_TRUE(NamesIn(Source("drop")).empty());
}

TEST_F(UndoWindowTest, WhileAnotherWindowRunsADropSaysSoAndTouchesNothing) {
    Settings("m_nMode=0\r\n");
    WriteBytes(Source("alpha.txt"), "alpha");
    Open();
    JournalWriter other(dlg().JournalPath());
    ASSERT_EQ(other.Begin(JournalHeader{Dest() + "/", {}}), RecorderStart::Recording);
    const auto seen = Drop({UrlOf(Source("alpha.txt"))}, {yes, ok});
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[1].text, Q(u8"別のウィンドウで処理中です。終わってからもう一度お試しください。"));
    EXPECT_EQ(seen[1].caption, Q(u8"警告"));
    EXPECT_TRUE(Exists(Source("alpha.txt")));
    EXPECT_FALSE(Exists(Dest()));
}

TEST_F(UndoWindowTest, WithoutAJournalTheDropAsksBeforeAnythingMoves) {
    Settings("m_nMode=0\r\n");
    WriteBytes(Source("alpha.txt"), "alpha");
    MakeFolder(folder().Join("undo.journal.new"));
    Open();
    const auto seen = Drop({UrlOf(Source("alpha.txt"))}, {yes, no});
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[1].text, Q(u8"元に戻すための記録を作れません。元に戻せないまま実行しますか？"));
    EXPECT_EQ(seen[1].caption, Q(u8"移動処理"));
    EXPECT_EQ(seen[1].buttons, (QStringList{yes, no}));
    EXPECT_TRUE(Exists(Source("alpha.txt")));
    EXPECT_FALSE(Exists(Dest()));
}

TEST_F(UndoWindowTest, AJournalOfAnotherUserIsNotActedOn) {
    Settings("m_nMode=0\r\n");
    WriteBytes(Source("alpha.txt"), "alpha");
    Open();
    Drop({UrlOf(Source("alpha.txt"))}, {yes, ok});
    ASSERT_TRUE(dlg().CanUndo());
    const std::string journal = Native(dlg().JournalPath());
    ASSERT_EQ(chown(journal.c_str(), testing_support::kNobodyId, testing_support::kNobodyId), 0);
    EXPECT_TRUE(Undo({}).empty());
    EXPECT_TRUE(Exists(Dest() + "/new_alpha.txt"));
}

TEST_F(UndoWindowTest, ALogThatCannotBeWrittenIsNamedAfterTheResult) {
    Settings("m_nMode=0\r\nm_bErrorLog=1\r\n");
    WriteBytes(Source("alpha.txt"), "alpha");
    WriteBytes(folder().Join("error.log"), "");
    std::filesystem::permissions(Native(folder().Join("error.log")), std::filesystem::perms::owner_read);
    const std::filesystem::path foreign = testing_support::NativePath(folder().Join("src")) / u8"é.txt";
    { std::ofstream(foreign) << "e"; }
    Open();
    const auto seen = Drop({QUrl::fromLocalFile(QString::fromStdU16String(foreign.u16string())),
                            UrlOf(Source("alpha.txt"))},
                           {yes, ok, ok});
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[1].caption, Q(u8"結果"));
    EXPECT_EQ(seen[2].text, QtText(folder().Join("error.log")) + Q(u8" に 1 行を書き込めませんでした。"));
    EXPECT_EQ(seen[2].caption, Q(u8"警告"));
    EXPECT_EQ(seen[2].icon, QMessageBox::NoIcon);
}

// The window's own folder holds its settings, logs and undo journal: dropped
// itself or through one of its files, nothing of it is moved or counted, and
// closing writes the settings there.
TEST_F(DropTest, TheProgramsOwnFolderDroppedOnTheWindowIsLeftAlone) {
    MoveIntoDest();
    WriteBytes(Source("alpha.txt"), "alpha");
    WriteBytes(folder().Join("change.log"), "");
    Open();
    QString result;
    for (const QList<QUrl>& urls : {QList<QUrl>{UrlOf(Source("alpha.txt"))},
                                    QList<QUrl>{UrlOf(folder().Path()), UrlOf(folder().Join("Morvandel.sav"))}}) {
        BoxAnswerer answerer({Q(u8"はい(&Y)"), QStringLiteral("OK")});
        std::unique_ptr<QMimeData> data(Urls(urls));
        ASSERT_EQ(Drops(window(), *data), Qt::CopyAction);
        ASSERT_TRUE(WaitUntil([&] { return !window().BatchRunning() && answerer.seen.size() == 2; }));
        result = answerer.seen[1].text;
    }
    EXPECT_EQ(result, Q(u8"成功：0　失敗：0　トータル：0"));
    EXPECT_EQ(NamesIn(folder().Path()), (std::vector<ByteString>{"Morvandel.sav", "change.log", "dest", "src",
                                                                  "undo.journal", "undo.journal.lock"}));
    EXPECT_EQ(NamesIn(Dest()), std::vector<ByteString>{"new_alpha.txt"});
    window().close();
    EXPECT_EQ(SavedSettings().m_sWhere, Dest() + "/");
}
