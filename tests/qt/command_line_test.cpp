// Files named on the command line: read as paths, then handed to the shown
// window as a drop of them (question, batch, result), in order.
#include <filesystem>
#include <fstream>

#include <QApplication>
#include <QTimer>
#include <gtest/gtest.h>

#include "qt/drop_app_qt.h"
#include "qt_test_support.h"
#include "qt/text_qt.h"
#include "settings/settings_file.h"

using namespace qt_testing;
using testing_support::MakeFolder;
using testing_support::NamesIn;
using testing_support::ReadBytes;
using testing_support::TempFolder;
using testing_support::WriteBytes;

TEST(CommandLine, EveryArgumentIsAPathTakenAsADropWouldDeliverIt) {
    const QString here = Q(u8"/home/u/作業");
    const struct {
        QString argument;
        ByteString path;
        bool convertible;
    } expected[] = {
        {QStringLiteral("a.txt"), B(u8"/home/u/作業/a.txt"), true},
        {QStringLiteral("-style"), B(u8"/home/u/作業/-style"), true},  // as after "--": a file of that name
        {QStringLiteral("/abs/./b//c/"), "/abs/b/c", true},
        {QStringLiteral("./sub/../x"), B(u8"/home/u/作業/sub/../x"), true},  // ".." is the system's to resolve
        {QStringLiteral("."), B(u8"/home/u/作業"), true},
        {QStringLiteral("/"), "/", true},
        {Q(u8"é€.txt"), B(u8"/home/u/作業/??.txt"), false},
    };
    QStringList arguments;
    for (const auto& e : expected) {
        arguments << e.argument;
        if (e.argument == QStringLiteral("-style")) arguments << QString();  // names no file: left out
    }
    const std::vector<DroppedPath> paths = CommandLinePaths(arguments, here);
    ASSERT_EQ(paths.size(), std::size(expected));
    for (size_t i = 0; i < paths.size(); ++i) {
        SCOPED_TRACE(expected[i].argument.toStdString());
        EXPECT_EQ(paths[i].path, expected[i].path);
        EXPECT_EQ(paths[i].convertible, expected[i].convertible);
    }
}

// The files of the command line, relative and absolute, one without a
// Shift_JIS name: the question comes over the shown window, the files are
// handled in the order given, the unconvertible one is a logged failure.
TEST(CommandLine, FilesGivenAtStartAreHandledAsADropOnceTheWindowIsShown) {
    TempFolder folder;
    const ByteString dest = folder.Join("dest");
    MakeFolder(folder.Join("src"));
    WriteBytes(folder.Join("src/beta.txt"), "b");
    WriteBytes(folder.Join("src/alpha.txt"), "a");
    const std::filesystem::path foreign = testing_support::NativePath(folder.Join("src")) / u8"é€x.txt";
    { std::ofstream(foreign) << "foreign"; }
    WriteBytes(folder.Join("Morvandel.sav"), "m_sWhere=" + dest + "/\r\nm_sFileNameFormat=" +
                                                 B(u8"[連番]_[ファイルタイトル].[拡張子]") +
                                                 "\r\nm_nMode=0\r\nm_bErrorLog=1\r\n");
    CDropDlg dlg(folder.Path() + "/", [] { return int64_t{1700000000}; });

    BoxAnswerer answerer({Q(u8"はい(&Y)"), QStringLiteral("OK")});
    bool windowShownAtQuestion = false;
    DropWindow* window = nullptr;
    answerer.onBox = [&](const BoxAnswerer::Seen& box) {
        if (box.text != Q(u8"実行しますか？")) return;
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (auto* found = qobject_cast<DropWindow*>(widget)) window = found;
        }
        windowShownAtQuestion = window && window->isVisible();
    };
    // Closes the window as the user would once the result has been answered.
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (window && answerer.seen.size() == 2 && !window->BatchRunning()) {
            closer.stop();
            window->close();
        }
    });
    closer.start(10);
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [&] {
        ADD_FAILURE() << "the window did not close";
        if (window) window->close();
    });
    watchdog.start(20000);

    const QStringList arguments = {QStringLiteral("src/beta.txt"), QtText(folder.Join("src/alpha.txt")),
                                   QStringLiteral("src/") + Q(u8"é€x.txt")};
    CDropApp::RunMainWindow(dlg, QString(), CommandLinePaths(arguments, QtText(folder.Path())));

    EXPECT_TRUE(windowShownAtQuestion);
    ASSERT_EQ(answerer.seen.size(), 2u);
    EXPECT_EQ(answerer.seen[1].text, Q(u8"成功：2　失敗：1　トータル：3"));
    EXPECT_EQ(NamesIn(dest), (std::vector<ByteString>{"0_beta.txt", "1_alpha.txt"}));
    EXPECT_TRUE(std::filesystem::exists(foreign));
    EXPECT_EQ(ReadBytes(folder.Join("error.log")),
              folder.Join("src/??x.txt") + ">" + dest + "/2_??x.txt\r\n");
    EXPECT_EQ(LoadSettings(folder.Path() + "/").m_sWhere, dest + "/") << "closing saved the settings";
}
