// The parts around the main dialog: the About item of the context menu, the
// help key, the folder chooser, and starting the program without a display.
#include <QDesktopServices>
#include <QFile>
#include <QFileDialog>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTranslator>
#include <QUrl>
#include <gtest/gtest.h>

#include <grp.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "qt/about_dialog_qt.h"
#include "qt/drop_app_qt.h"
#include "qt/help_qt.h"
#include "qt_test_support.h"
#include "qt/text_qt.h"
#include "settings/settings_file.h"
#include "support/child_process.h"
#include "ui/command_line.h"

using namespace qt_testing;

namespace {

// Chooses a folder in the chooser as a user typing its path does.  (Its
// selectFile() leaves the name field alone once that has the focus, which
// depends on when the window got activated.)
void ChooseFolder(QFileDialog& chooser, const QString& path) {
    chooser.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(path);
    static_cast<QDialog&>(chooser).accept();  // QFileDialog::accept, by way of the public slot
}

// Records the URLs that would have been opened in the desktop's viewer.
class UrlRecorder : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened << url; }
};

}  // namespace

class AppTest : public ::testing::Test, public WindowFixture {};

TEST_F(AppTest, TheContextMenuOffersTheAboutBoxWhichChangesNothing) {
    WriteSettings("m_sWhere=/kept/\r\n");
    Open();
    const std::string settingsBefore = testing_support::ReadBytes(folder().Join("Morvandel.sav"));
    TypeInto(Control(IDC_FORMAT), QStringLiteral("edited"));
    QStringList items;
    QString aboutTitle;
    WhenShown<QMenu>([&](QMenu& menu) {
        for (QAction* action : menu.actions()) items << action->text();
        menu.setActiveAction(menu.actions().value(0));
        QTest::keyClick(&menu, Qt::Key_Return);
    });
    WhenShown<CAboutDlg>([&](CAboutDlg& about) {
        aboutTitle = about.windowTitle();
        EXPECT_TRUE(about.isModal());
        QTest::keyClick(about.Control(IDC_CLOSE), Qt::Key_Return);
    });
    QContextMenuEvent rightClick(QContextMenuEvent::Mouse, QPoint(5, 5), window().mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(&window(), &rightClick);

    EXPECT_EQ(items, (QStringList{Q(u8"Tessarbolink のﾊﾞｰｼﾞｮﾝ情報(&A)..."), Q(u8"直前の処理を元に戻す(&U)")}));
    EXPECT_EQ(aboutTitle, Q(u8"Tessarbolinkのﾊﾞｰｼﾞｮﾝ情報"));
    EXPECT_TRUE(window().isVisible());
    EXPECT_EQ(TextOf(Control(IDC_FORMAT)), QStringLiteral("edited"));
    EXPECT_EQ(TextOf(Control(IDC_WHERE)), QStringLiteral("/kept/"));
    EXPECT_EQ(testing_support::ReadBytes(folder().Join("Morvandel.sav")), settingsBefore);
}

TEST_F(AppTest, HelpOpensTheInstalledUserGuide) {
    // The program in lib/tessarbolink/ as installed (or in bin/) finds
    // share/doc/tessarbolink/README.md of its installation.
    for (const char* part : {"bin", "lib", "lib/tessarbolink", "share", "share/doc", "share/doc/tessarbolink"})
        testing_support::MakeFolder(folder().Join(part));
    testing_support::WriteBytes(folder().Join("share/doc/tessarbolink/README.md"), "# guide\n");
    const QString guide = QtText(folder().Join("share/doc/tessarbolink/README.md"));
    EXPECT_EQ(FindUserGuide(QtText(folder().Join("bin"))), guide);
    EXPECT_EQ(FindUserGuide(QtText(folder().Join("lib/tessarbolink/"))), guide);

    UrlRecorder recorder;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &recorder, "open");
    Open(guide);
    BoxAnswerer answerer({});
    QTest::keyClick(Control(IDC_WHERE), Qt::Key_F1);
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    EXPECT_EQ(recorder.opened, QList<QUrl>{QUrl::fromLocalFile(guide)});
    EXPECT_TRUE(answerer.seen.empty());
}

TEST_F(AppTest, HelpWithoutAGuideSaysItCouldNotStart) {
    EXPECT_EQ(FindUserGuide(QtText(folder().Path())), QString());
    Open(QString());
    BoxAnswerer answerer({QStringLiteral("OK")});
    QTest::keyClick(Control(IDC_CLOSE), Qt::Key_F1);
    ASSERT_EQ(answerer.seen.size(), 1u);
    EXPECT_EQ(answerer.seen[0].text, Q(u8"ﾍﾙﾌﾟの起動に失敗しました。"));
    EXPECT_EQ(answerer.seen[0].caption, QtText(CDropDlg::ProgramName()));
    EXPECT_EQ(answerer.seen[0].icon, QMessageBox::Warning);
    EXPECT_TRUE(window().isVisible()) << "F1 never closes or changes the window";
}

TEST_F(AppTest, TheFolderChooserLeavesTheWindowUsableAndSetsTheDestination) {
    WriteSettings("m_sWhere=/old/\r\nm_sFileNameFormat=abc\r\n");
    Open();
    testing_support::MakeFolder(folder().Join(B(u8"格納")));
    const QString chosen = QtText(folder().Join(B(u8"格納")));
    bool seen = false;
    WhenShown<QFileDialog>([&](QFileDialog& chooser) {
        seen = true;
        EXPECT_EQ(chooser.windowTitle(), Q(u8"フォルダの参照"));
        EXPECT_EQ(chooser.fileMode(), QFileDialog::Directory);
        EXPECT_TRUE(chooser.testOption(QFileDialog::ShowDirsOnly));
        EXPECT_EQ(chooser.windowModality(), Qt::NonModal);
        EXPECT_EQ(chooser.parentWidget(), nullptr);
        // The main window still takes clicks meanwhile.
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
        Click(Control(IDC_CLEAR));
        EXPECT_EQ(TextOf(Control(IDC_FORMAT)), QString());
        ChooseFolder(chooser, chosen);
    });
    Click(Control(IDC_BROWSE));
    EXPECT_TRUE(seen);
    EXPECT_EQ(TextOf(Control(IDC_WHERE)), chosen + u'/');
    EXPECT_EQ(dlg().settings().m_sWhere, folder().Join(B(u8"格納")) + "/");
}

TEST_F(AppTest, TheChoosersOwnButtonsAreInJapanese) {
    if (!QFile::exists(QLibraryInfo::path(QLibraryInfo::TranslationsPath) + QStringLiteral("/qtbase_ja.qm")))
        GTEST_SKIP() << "Qt's Japanese translation (qt6-translations-l10n) is not installed";
    std::unique_ptr<QTranslator> translator(InstallJapaneseQtTexts(*QCoreApplication::instance()));
    ASSERT_NE(translator, nullptr);
    Open();
    QStringList buttons;
    WhenShown<QFileDialog>([&](QFileDialog& chooser) {
        for (const QPushButton* button : chooser.findChildren<QPushButton*>()) buttons << button->text();
        chooser.reject();
    });
    Click(Control(IDC_BROWSE));
    EXPECT_TRUE(buttons.contains(Q(u8"キャンセル"))) << buttons.join(u',').toStdString();
}

// Cancelled, or a folder whose name has no code page 932 form (which the
// window says): the destination stays, and the controls are refreshed.
TEST_F(AppTest, TheChooserKeepsTheDestinationWhenCancelledOrGivenAFolderWithoutAShiftJisName) {
    WriteSettings("m_sWhere=/old/\r\n");
    Open();
    const std::filesystem::path foreign = testing_support::NativePath(folder().Path()) / u8"é€";
    std::filesystem::create_directory(foreign);
    for (const bool cancel : {true, false}) {
        SCOPED_TRACE(cancel ? "cancelled" : "foreign name");
        TypeInto(Control(IDC_WHERE), QStringLiteral("/typed/"));
        BoxAnswerer answerer(cancel ? QStringList() : QStringList{QStringLiteral("OK")});
        WhenShown<QFileDialog>([&](QFileDialog& chooser) {
            if (cancel) chooser.reject();
            else ChooseFolder(chooser, QString::fromStdU16String(foreign.u16string()));
        });
        Click(Control(IDC_BROWSE));
        ASSERT_EQ(answerer.seen.size(), cancel ? 0u : 1u);
        if (!cancel) {
            EXPECT_EQ(answerer.seen[0].icon, QMessageBox::Warning);
        }
        EXPECT_EQ(dlg().settings().m_sWhere, "/old/");
        EXPECT_EQ(TextOf(Control(IDC_WHERE)), QStringLiteral("/old/"));
    }
}

TEST_F(AppTest, ClosingTheWindowWhileTheChooserIsOpenClosesBothAndSaves) {
    WriteSettings("m_sWhere=/old/\r\n");
    Open();
    QPointer<QFileDialog> open;
    WhenShown<QFileDialog>([&](QFileDialog& chooser) {
        open = &chooser;
        QTest::keyClick(Control(IDC_WHERE), Qt::Key_Escape);
    });
    Click(Control(IDC_BROWSE));
    EXPECT_TRUE(open.isNull()) << "the chooser is gone";
    EXPECT_FALSE(window().isVisible());
    EXPECT_EQ(SavedSettings().m_sWhere, "/old/");
}

#ifdef TESSARBOLINK_PROGRAM
namespace {

struct Ended {
    int code = -1;
    QByteArray out, err;
};

// Starts the real program with the given display variables (and nothing else
// of the test's display setting) and arguments; returns its exit code and
// what it wrote.
Ended StartProgram(const QStringList& displayVariables, const QStringList& arguments = {}) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) environment.remove(name);
    for (const QString& variable : displayVariables)
        environment.insert(variable.section(u'=', 0, 0), variable.section(u'=', 1));
    QProcess program;
    program.setProcessEnvironment(environment);
    program.start(QStringLiteral(TESSARBOLINK_PROGRAM), arguments);
    if (!program.waitForFinished(20000)) {
        program.kill();
        program.waitForFinished();
        return {-1, {}, "did not end"};
    }
    return {program.exitStatus() == QProcess::NormalExit ? program.exitCode() : -2, program.readAllStandardOutput(),
            program.readAllStandardError()};
}

}  // namespace

// With no display at all, and with one that cannot be reached.
TEST(Startup, WithoutAUsableDisplayTheProgramSaysSoAndEndsWithOne) {
    for (const QStringList& display : {QStringList{}, QStringList{QStringLiteral("QT_QPA_PLATFORM=xcb"),
                                                                   QStringLiteral("DISPLAY=:4711")}}) {
        SCOPED_TRACE(display.join(u' ').toStdString());
        const Ended ended = StartProgram(display);
        EXPECT_EQ(ended.code, 1) << "not a crash";
        EXPECT_TRUE(ended.err.contains("no display could be opened")) << ended.err.toStdString();
    }
}

// Options are answered without a display; "--" lets a file named like an
// option through to the window (which then finds no display).
TEST(Startup, OptionsAreAnsweredOnTheStandardStreamsWithoutADisplay) {
    const struct {
        QStringList arguments;
        int code;
        std::string out, err;
    } cases[] = {
        {{QStringLiteral("--help")}, 0, std::string(UsageText()), ""},
        {{QStringLiteral("--version")}, 0, VersionText(), ""},
        {{QStringLiteral("a.txt"), QStringLiteral("--version"), QStringLiteral("--help")}, 0, VersionText(), ""},
        {{QStringLiteral("--bogus"), QStringLiteral("--help")}, 2, "", RefusedOptionText("--bogus")},
        {{QStringLiteral("a.txt"), QStringLiteral("-")}, 2, "", RefusedOptionText("-")},
        {{QStringLiteral("--"), QStringLiteral("--help"), QStringLiteral("-x")}, 1, "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.join(u' ').toStdString());
        const Ended ended = StartProgram({}, c.arguments);
        EXPECT_EQ(ended.code, c.code);
        EXPECT_EQ(ended.out.toStdString(), c.out);
        if (c.code == 1) {
            EXPECT_TRUE(ended.err.contains("no display could be opened")) << ended.err.toStdString();
        } else {
            EXPECT_EQ(ended.err.toStdString(), c.err);
        }
    }
}

namespace {

// True once the process catches the signal (it has installed its handler).
bool Catches(qint64 pid, int signal) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly)) return false;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("SigCgt:")) return (line.mid(7).trimmed().toULongLong(nullptr, 16) >> (signal - 1)) & 1;
    }
    return false;
}

}  // namespace

// Installed as lib/tessarbolink/tessarbolink with bin/tessarbolink a link to
// it, started through the link and asked to end as a session does: the window
// closes as its close box does, and the settings are saved beside the real file.
TEST(Startup, StartedThroughTheBinLinkItKeepsItsFilesInItsOwnFolderAndSavesWhenAskedToEnd) {
    testing_support::TempFolder prefix;
    for (const char* part : {"bin", "lib", "lib/tessarbolink"}) testing_support::MakeFolder(prefix.Join(part));
    const QString program = QtText(prefix.Join("lib/tessarbolink/tessarbolink"));
    ASSERT_TRUE(QFile::copy(QStringLiteral(TESSARBOLINK_PROGRAM), program));
    ASSERT_TRUE(QFile::link(QStringLiteral("../lib/tessarbolink/tessarbolink"), QtText(prefix.Join("bin/tessarbolink"))));

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    QProcess started;
    started.setProcessEnvironment(environment);
    started.start(QtText(prefix.Join("bin/tessarbolink")), {});
    ASSERT_TRUE(started.waitForStarted());
    EXPECT_TRUE(WaitUntil([&] { return Catches(started.processId(), SIGTERM); }));
    kill(static_cast<pid_t>(started.processId()), SIGTERM);
    ASSERT_TRUE(started.waitForFinished(20000)) << "still running after SIGTERM";
    EXPECT_EQ(started.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(started.exitCode(), 0);

    EXPECT_EQ(testing_support::NamesIn(prefix.Join("bin")), std::vector<ByteString>{"tessarbolink"});
    EXPECT_EQ(LoadSettings(prefix.Join("lib/tessarbolink/")).m_sWhere, prefix.Join("lib/tessarbolink/MovedFiles/"))
        << "the settings were saved beside the program, with the destination beside it";
}

// A program whose own name holds the byte 0x5C (ソ is 0x83 0x5C) keeps its
// settings beside itself, under their own name.
TEST(Startup, AProgramNamedWithASecondByte5CSavesItsSettingsBesideItself) {
    testing_support::TempFolder folder;
    const QString program = QtText(folder.Join(Cp932(u8"ソフト")));
    ASSERT_TRUE(QFile::copy(QStringLiteral(TESSARBOLINK_PROGRAM), program));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    QProcess started;
    started.setProcessEnvironment(environment);
    started.start(program, {});
    ASSERT_TRUE(started.waitForStarted());
    EXPECT_TRUE(WaitUntil([&] { return Catches(started.processId(), SIGTERM); }));
    kill(static_cast<pid_t>(started.processId()), SIGTERM);
    ASSERT_TRUE(started.waitForFinished(20000)) << "still running after SIGTERM";

    const std::vector<ByteString> names = testing_support::NamesIn(folder.Path());
    EXPECT_NE(std::find(names.begin(), names.end(), "Morvandel.sav"), names.end());
    EXPECT_EQ(LoadSettings(folder.Path() + "/").m_sWhere, folder.Join("MovedFiles/"));
}

// Started by an ordinary user from a folder it cannot write, with a data
// folder of its name that belongs to another user: the program stops before
// any window, saying which folder and why, and writes nothing into it.
TEST(Startup, ADataFolderOfAnotherUserStopsTheStartWithTheFolderAndTheReason) {
    if (geteuid() != 0) GTEST_SKIP() << "making another user's folder needs root";
    testing_support::TempFolder temp;
    const ByteString xdg = temp.Join("xdg");
    for (const ByteString& folder : {temp.Join("program"), xdg, xdg + "/tessarbolink"}) {
        testing_support::MakeFolder(folder);
        ASSERT_EQ(chmod(testing_support::NativePath(folder).c_str(), 0755), 0);
    }
    ASSERT_EQ(chmod(testing_support::NativePath(temp.Path()).c_str(), 0755), 0);
    const QString program = QtText(temp.Join("program/tessarbolink"));
    ASSERT_TRUE(QFile::copy(QStringLiteral(TESSARBOLINK_PROGRAM), program));

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("XDG_DATA_HOME"), QtText(xdg));
    environment.insert(QStringLiteral("HOME"), QtText(temp.Path()));
    QProcess started;
    started.setProcessEnvironment(environment);
    started.setChildProcessModifier([] {
        if (setgroups(0, nullptr) != 0 || setgid(testing_support::kNobodyId) != 0 ||
            setuid(testing_support::kNobodyId) != 0)
            _exit(99);
    });
    started.start(program, {});
    ASSERT_TRUE(started.waitForStarted());
    const QString expected = QStringLiteral("tessarbolink: ") + Q(u8"設定とログを置くフォルダ「") +
                             QtText(xdg + "/tessarbolink") + Q(u8"」は、ほかのユーザーのものであるため使えません。");
    QString said;
    EXPECT_TRUE(WaitUntil([&] {
        said += QString::fromUtf8(started.readAllStandardError());
        return said.contains(expected) || started.state() == QProcess::NotRunning;
    }));
    EXPECT_TRUE(said.contains(expected)) << said.toStdString();
    started.kill();  // its message box waits for an answer
    started.waitForFinished();
    EXPECT_TRUE(testing_support::NamesIn(xdg + "/tessarbolink").empty());
    EXPECT_TRUE(testing_support::NamesIn(temp.Join("program")) == std::vector<ByteString>{"tessarbolink"});
}
#endif

#include "app_test.moc"
