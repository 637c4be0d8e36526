// A later start of the program for the data folder of an open window: it
// opens no window, hands its files to the open one, which comes to the front
// and handles them as a drop once it is free, and ends.  The later starts are
// the real program, copied into the program folder of the window.
#ifdef TESSARBOLINK_PROGRAM
#include <signal.h>

#include <memory>
#include <vector>

#include <QApplication>
#include <QFile>
#include <QProcess>
#include <QTimer>
#include <QWidget>
#include <gtest/gtest.h>

#include "qt/drop_app_qt.h"
#include "qt/text_qt.h"
#include "qt/window_handoff_qt.h"
#include "qt_test_support.h"

using namespace qt_testing;
using testing_support::MakeFolder;
using testing_support::NamesIn;
using testing_support::TempFolder;
using testing_support::WriteBytes;

namespace {

// The program copied into a fresh folder, which it keeps its files in.
class ProgramCopy {
public:
    ProgramCopy() {
        program_ = QtText(folder_.Join("tessarbolink"));
        EXPECT_TRUE(QFile::copy(QStringLiteral(TESSARBOLINK_PROGRAM), program_));
    }
    ByteString DataFolder() const { return folder_.Path() + "/"; }

    // Starts the copy offscreen, from `from`, with the arguments.
    std::unique_ptr<QProcess> Start(const QStringList& arguments, const ByteString& from) const {
        auto started = std::make_unique<QProcess>();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        started->setProcessEnvironment(environment);
        started->setWorkingDirectory(QtText(from));
        started->start(program_, arguments);
        EXPECT_TRUE(started->waitForStarted());
        return started;
    }

private:
    TempFolder folder_;
    QString program_;
};

bool EndedWithZero(QProcess& process) {
    return process.state() == QProcess::NotRunning && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

void Stop(QProcess& process) {
    process.kill();
    process.waitForFinished();
}

}  // namespace

// The window is busy with a batch of its own (its question is up) when a
// later start brings a file by a relative path: the start ends at once, and
// the window handles the file after its batch, from the folder the start was
// made in.  A start without files only brings the window to the front.
TEST(LaterStart, HandsItsFilesToTheOpenWindowWhichHandlesThemOnceFree) {
    ProgramCopy copy;
    TempFolder work;
    const ByteString dest = work.Join("dest");
    WriteBytes(copy.DataFolder() + "Morvandel.sav", "m_sWhere=" + dest + "/\r\nm_sFileNameFormat=" +
                                                        B(u8"[連番]_[ファイルタイトル].[拡張子]") + "\r\nm_nMode=0\r\n");
    WriteBytes(work.Join("first.txt"), "1");
    MakeFolder(work.Join(B(u8"後で")));
    WriteBytes(work.Join(B(u8"後で/later.txt")), "2");

    WindowClaim claim = ClaimWindow(copy.DataFolder(), {}, "/");
    ASSERT_FALSE(claim.handedOver);
    ASSERT_NE(claim.laterStarts, nullptr) << "nothing else holds this data folder";
    CDropDlg dlg(copy.DataFolder(), [] { return int64_t{1700000000}; });

    BoxAnswerer answerer({Q(u8"はい(&Y)"), QStringLiteral("OK"), Q(u8"はい(&Y)"), QStringLiteral("OK")});
    std::unique_ptr<QProcess> later;
    bool endedDuringFirstBatch = false;
    answerer.onBox = [&](const BoxAnswerer::Seen&) {
        if (answerer.seen.size() != 1) return;
        later = copy.Start({Q(u8"後で/later.txt")}, work.Path());
        endedDuringFirstBatch = WaitUntil([&] { return later->state() == QProcess::NotRunning; });
    };
    DropWindow* window = nullptr;
    QWidget other;
    bool broughtToFront = false;
    std::unique_ptr<QProcess> bare;
    QTimer player;
    QObject::connect(&player, &QTimer::timeout, [&] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (auto* found = qobject_cast<DropWindow*>(widget)) window = found;
        }
        if (!window || answerer.seen.size() < 4 || window->BatchRunning()) return;
        // Both batches done: another window in front, then a start without files.
        if (!bare) {
            other.show();
            other.activateWindow();
            if (!WaitUntil([&] { return other.isActiveWindow(); }, 2000)) ADD_FAILURE() << "no other window in front";
            bare = copy.Start({}, work.Path());
            return;
        }
        if (bare->state() != QProcess::NotRunning || !WaitUntil([&] { return window->isActiveWindow(); }, 5000)) return;
        broughtToFront = true;
        player.stop();
        window->close();
    });
    player.start(10);
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [&] {
        ADD_FAILURE() << "the window did not close";
        if (window) window->close();
    });
    watchdog.start(30000);

    CDropApp::RunMainWindow(dlg, QString(), {DroppedPath{work.Join("first.txt"), true}}, claim.laterStarts.get());

    ASSERT_TRUE(later);
    EXPECT_TRUE(endedDuringFirstBatch) << "the later start waits for no batch";
    EXPECT_TRUE(EndedWithZero(*later));
    ASSERT_EQ(answerer.seen.size(), 4u);
    EXPECT_EQ(answerer.seen[1].text, Q(u8"成功：1　失敗：0　トータル：1"));
    EXPECT_EQ(answerer.seen[2].text, Q(u8"実行しますか？")) << "the handed file's own batch, after the first";
    EXPECT_EQ(answerer.seen[3].text, Q(u8"成功：1　失敗：0　トータル：1"));
    EXPECT_EQ(NamesIn(dest), (std::vector<ByteString>{"0_first.txt", "0_later.txt"}));
    ASSERT_TRUE(bare);
    EXPECT_TRUE(EndedWithZero(*bare));
    EXPECT_TRUE(broughtToFront);
}

// Starts at the same moment: exactly one becomes the window, the others hand
// over to it and end.  A window killed leaves nothing that keeps the next
// start from becoming the window.
TEST(LaterStart, OfStartsAtOnceOneBecomesTheWindowAndAKilledOneLeavesNothingBehind) {
    ProgramCopy copy;
    TempFolder work;
    for (const int count : {4, 2}) {
        SCOPED_TRACE(count == 4 ? "four starts at once" : "two starts after the window was killed");
        std::vector<std::unique_ptr<QProcess>> starts;
        for (int i = 0; i < count; ++i) starts.push_back(copy.Start({}, work.Path()));
        const auto running = [&] {
            int alive = 0;
            for (const auto& start : starts) alive += start->state() != QProcess::NotRunning ? 1 : 0;
            return alive;
        };
        EXPECT_TRUE(WaitUntil([&] { return running() == 1; }, 20000)) << running() << " still running";
        EXPECT_FALSE(WaitUntil([&] { return running() == 0; }, 300)) << "the window stays";
        for (const auto& start : starts) {
            if (start->state() == QProcess::NotRunning) EXPECT_TRUE(EndedWithZero(*start));
            else Stop(*start);  // as a crash would end it
        }
    }
}
#endif
