// Long batches in the real Qt window, offscreen: the progress window and its
// ways to stop, the input dropped meanwhile, and the launcher entry's
// progress on a session bus of the test's own.
#include <QAbstractButton>
#include <QDBusConnection>
#include <QDragEnterEvent>
#include <QLabel>
#include <QMimeData>
#include <QProcess>
#include <QProgressBar>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <QVariantMap>
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "qt/progress_window_qt.h"
#include "qt/text_qt.h"
#include "qt_test_support.h"

using namespace qt_testing;
using testing_support::MakeFolder;
using testing_support::NamesIn;
using testing_support::WriteBytes;

namespace {

class ProgressTest : public ::testing::Test, public WindowFixture {
protected:
    static constexpr int kFiles = 200;

    // kFiles files in src/, a move of them into dest/ under their own names,
    // and a window whose refresh clock moves on by step at every look.
    DropWindow& OpenOverFiles(int64_t step = 100) {
        MakeFolder(Src());
        for (int i = 0; i < kFiles; ++i) WriteBytes(Src() + "/" + std::to_string(i), "x");
        WriteSettings("m_sWhere=" + Dest() + "/\r\nm_sFileNameFormat=" + B(u8"[ファイルタイトル]") + "\r\nm_nMode=0\r\n");
        return Open(QString(), [this, step] { return now += step; });
    }
    ByteString Src() const { return folder().Join("src"); }
    ByteString Dest() const { return folder().Join("dest"); }

    // Drops src/ as a file manager does.
    void DropSrc() {
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(QtText(Src()))});
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&window(), &enter);
        QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&window(), &drop);
        ASSERT_TRUE(window().BatchRunning());
    }

    // Runs act once, during the batch, when the title counts some files.
    void WhenFilesDone(int files, std::function<void()> act) {
        auto* poll = new QTimer;
        QObject::connect(poll, &QTimer::timeout, [this, poll, files, act] {
            const QString title = window().windowTitle();
            if (!title.startsWith(QStringLiteral("Tessarbolink  ")) || title.section(u' ', -1).toInt() < files) return;
            poll->stop();
            poll->deleteLater();
            act();
        });
        poll->start(0);
    }

    // Every file whole at exactly one place; the number placed.
    size_t ExpectEachFileOnce() {
        std::multiset<ByteString> seen;
        for (const ByteString& name : NamesIn(Src())) seen.insert(name);
        const std::vector<ByteString> placed = NamesIn(Dest());
        seen.insert(placed.begin(), placed.end());
        for (int i = 0; i < kFiles; ++i) EXPECT_EQ(seen.count(std::to_string(i)), 1u) << i;
        EXPECT_EQ(seen.size(), static_cast<size_t>(kFiles));
        return placed.size();
    }

    QString ResultText(size_t placed) {
        const QString n = QString::number(placed);
        return Q(u8"成功：") + n + Q(u8"　失敗：0　トータル：") + n;
    }

    int64_t now = 0;
};

// The progress window comes during a long batch, owned by the main window,
// with the counts and the bar; its 中止 button, Esc and its close box each
// stop the batch after the file being handled.  It is gone before the result.
TEST_F(ProgressTest, TheProgressWindowShowsTheBatchAndItsButtonEscAndCloseBoxStopIt) {
    for (const char* way : {"button", "escape", "close box"}) {
        SCOPED_TRACE(way);
        Destroy();
        OpenOverFiles();
        BoxAnswerer answerer({Q(u8"はい(&Y)"), QStringLiteral("OK")});
        ProgressWindow* seen = nullptr;
        QString counts;
        int bar = -1;
        bool visibleAtResult = true;
        answerer.onBox = [&](const BoxAnswerer::Seen&) { visibleAtResult = seen && seen->isVisible(); };
        WhenShown<ProgressWindow>([&](ProgressWindow& progress) {
            seen = &progress;
            counts = qobject_cast<QLabel*>(progress.Control(IDC_PROGRESS_COUNT))->text();
            bar = qobject_cast<QProgressBar*>(progress.Control(IDC_PROGRESS_BAR))->value();
            if (std::string(way) == "button") QTest::mouseClick(progress.Control(IDC_STOP), Qt::LeftButton);
            if (std::string(way) == "escape") QTest::keyClick(&progress, Qt::Key_Escape);
            if (std::string(way) == "close box") progress.close();
        });
        DropSrc();
        ASSERT_TRUE(WaitUntil([&] { return !window().BatchRunning(); }));

        ASSERT_NE(seen, nullptr) << "no progress window came";
        EXPECT_EQ(seen->parentWidget(), &window());
        EXPECT_EQ(seen->windowTitle(), Q(u8"処理中"));
        EXPECT_EQ(qobject_cast<QAbstractButton*>(seen->Control(IDC_STOP))->text(), Q(u8"中止"));
        EXPECT_TRUE(counts.endsWith(QStringLiteral(" / %1 ").arg(kFiles) + Q(u8"ファイル"))) << counts.toStdString();
        EXPECT_GT(bar, 0);
        EXPECT_FALSE(visibleAtResult);
        ASSERT_EQ(answerer.seen.size(), 2u);
        const size_t placed = ExpectEachFileOnce();
        EXPECT_LT(placed, static_cast<size_t>(kFiles)) << "stopped";
        EXPECT_EQ(answerer.seen[1].text, ResultText(placed));
        EXPECT_TRUE(window().isVisible());
        // The next run starts over from files of its own.
        for (const ByteString& used : {Src(), Dest()}) std::filesystem::remove_all(testing_support::NativePath(used));
    }
}

// Keys and clicks given to the main window during a batch are dropped, never
// replayed after it (typing, a format button, Esc, Ctrl+Z); its close box
// asks nothing and stops the batch; the window stays open.
TEST_F(ProgressTest, InputToTheWindowDuringABatchIsDroppedAndItsCloseBoxStopsIt) {
    OpenOverFiles(1);  // no progress window: the main window has the keyboard
    BoxAnswerer answerer({Q(u8"はい(&Y)"), QStringLiteral("OK")});
    const QString where = TextOf(Control(IDC_WHERE)), format = TextOf(Control(IDC_FORMAT));
    bool stillRunning = false;
    WhenFilesDone(20, [&] {
        window().activateWindow();
        Control(IDC_WHERE)->setFocus();
        QTest::keyClicks(Control(IDC_WHERE), QStringLiteral("xyz"));
        QTest::mouseClick(Control(IDC_DATE), Qt::LeftButton);
        QTest::keyClick(Control(IDC_CLOSE), Qt::Key_Z, Qt::ControlModifier);
        QTest::keyClick(Control(IDC_CLOSE), Qt::Key_Escape);
        stillRunning = window().BatchRunning();
        window().close();
    });
    DropSrc();
    ASSERT_TRUE(WaitUntil([&] { return !window().BatchRunning(); }));
    QTest::qWait(20);  // anything held back would come now

    EXPECT_TRUE(stillRunning);
    EXPECT_EQ(TextOf(Control(IDC_WHERE)).toStdString(), where.toStdString());
    EXPECT_EQ(TextOf(Control(IDC_FORMAT)).toStdString(), format.toStdString());
    EXPECT_TRUE(window().isVisible());
    ASSERT_EQ(answerer.seen.size(), 2u) << "neither the close box nor Ctrl+Z asked anything";
    const size_t placed = ExpectEachFileOnce();
    EXPECT_GE(placed, 20u);
    EXPECT_LT(placed, static_cast<size_t>(kFiles));
    EXPECT_EQ(answerer.seen[1].text, ResultText(placed));
}

// Listens to the launcher entry's signal on a bus.
class LauncherListener : public QObject {
    Q_OBJECT
public:
    struct Update {
        QString app;
        QVariantMap properties;
    };
    std::vector<Update> updates;

public slots:
    void OnUpdate(const QString& app, const QVariantMap& properties) { updates.push_back({app, properties}); }
};

// A session bus of the test's own: a dbus-daemon in a fresh folder, ended
// with the test.
class PrivateSessionBus {
public:
    PrivateSessionBus() {
        const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        if (daemon.isEmpty()) return;
        process_.start(daemon, {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address"),
                                QStringLiteral("--address=unix:path=") + QtText(folder_.Join("bus"))});
        if (!process_.waitForStarted(5000) || !process_.waitForReadyRead(5000)) return;
        address_ = QString::fromUtf8(process_.readLine()).trimmed();
    }
    ~PrivateSessionBus() {
        process_.kill();
        process_.waitForFinished(5000);
    }
    const QString& Address() const { return address_; }

private:
    testing_support::TempFolder folder_;
    QProcess process_;
    QString address_;
};

// The bar on the launcher entry follows the batch and goes at its end.
TEST_F(ProgressTest, TheLauncherEntryShowsTheProgressOnTheSessionBus) {
    PrivateSessionBus bus;
    if (bus.Address().isEmpty()) GTEST_SKIP() << "no dbus-daemon (Debian package dbus) to start a session bus with";
    qputenv("DBUS_SESSION_BUS_ADDRESS", bus.Address().toUtf8());
    QDBusConnection listening = QDBusConnection::connectToBus(bus.Address(), QStringLiteral("listener"));
    ASSERT_TRUE(listening.isConnected());
    LauncherListener listener;
    ASSERT_TRUE(listening.connect(QString(), QString(), QStringLiteral("com.canonical.Unity.LauncherEntry"),
                                  QStringLiteral("Update"), &listener, SLOT(OnUpdate(QString, QVariantMap))));

    OpenOverFiles();
    BoxAnswerer answerer({Q(u8"はい(&Y)"), QStringLiteral("OK")});
    DropSrc();
    ASSERT_TRUE(WaitUntil([&] { return !window().BatchRunning(); }));
    ASSERT_TRUE(WaitUntil([&] {
        return !listener.updates.empty() && !listener.updates.back().properties.value("progress-visible").toBool();
    }));
    Destroy();
    QDBusConnection::disconnectFromBus(QStringLiteral("listener"));
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");

    ASSERT_GE(listener.updates.size(), 3u);
    double last = 0;
    for (size_t i = 0; i + 1 < listener.updates.size(); ++i) {
        const auto& update = listener.updates[i];
        EXPECT_EQ(update.app, QStringLiteral("application://tessarbolink.desktop"));
        EXPECT_TRUE(update.properties.value("progress-visible").toBool());
        const double progress = update.properties.value("progress").toDouble();
        EXPECT_GT(progress, last);
        EXPECT_LE(progress, 1.0);
        last = progress;
    }
    EXPECT_EQ(answerer.seen.size(), 2u);
    EXPECT_EQ(NamesIn(Dest()).size(), static_cast<size_t>(kFiles));
}

}  // namespace

#include "progress_test.moc"
