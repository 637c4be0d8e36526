// What the Linux window adds to a batch.
//
//   window_bench_qt [--files N[,N...]] [--large-files N] [--large-size BYTES]
//                   [--memory-files N] [--rounds N] [--dir FOLDER]
//
// One folder of N small files is dropped on the real window (a drag that
// enters it and a QDropEvent with the folder's file: URL, as a file manager
// delivers them), the question is answered "はい(&Y)", and the time runs from
// that click to the moment the result box shows.  The other side is the
// headless RunBatch on identical fresh files (same names, sizes, settings:
// default format, move mode, destination on the same file system, logs off),
// in the same run; the best of the rounds counts.  The progress window: the
// first count of files dropped on a window whose progress window shows from
// the first file on (as if the batch had run a second already) against the
// same window without one (a batch of less than a second has none), for the
// first count of small files and for copies of files of 256 MiB (the
// progress window then follows the pieces of each copy).  Memory: the peak
// resident
// size of a child process that only drops a folder of the memory-files count
// on the window, Qt included.
//
// Qt's offscreen platform is used unless QT_QPA_PLATFORM names another (such
// as xcb, on a display).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <QAbstractButton>
#include <QPushButton>
#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QEvent>
#include <QMessageBox>
#include <QMimeData>
#include <QTimer>
#include <QUrl>

#include "bench_support.h"
#include "qt/drop_window_qt.h"
#include "qt/progress_window_qt.h"
#include "qt/text_qt.h"
#include "ui/drop_dialog.h"

using namespace bench;

namespace {

namespace fsys = std::filesystem;

struct Options {
    std::vector<int> files{10000, 100000};
    int largeFiles = 4;
    long largeSize = 256L << 20;
    int memoryFiles = 100000;
    int rounds = 3;
    std::string dir;
    std::string memoryChild;  // internal: drop this folder on a window and report the peak
};

double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// The window's refresh clock: the real one, except that the first look after
// the question was answered may see the work as started a second before,
// so that the progress window shows from the first file on.
bool g_startProgressAtOnce = false;
int64_t RefreshClock() {
    int64_t now = static_cast<int64_t>(Now() * 1000);
    if (g_startProgressAtOnce) {
        g_startProgressAtOnce = false;
        now -= CDropDlg::kProgressDelayMilliseconds;
    }
    return now;
}

// Answers the window's boxes as the user would: "はい(&Y)" to the question,
// "OK" to the result, noting when the question was answered and when the
// result showed, with the title at that moment.
class BoxAnswerer : public QObject {
public:
    BoxAnswerer(QWidget& window, bool progressAtOnce) : window_(window), progressAtOnce_(progressAtOnce) {
        qApp->installEventFilter(this);
    }
    ~BoxAnswerer() override { qApp->removeEventFilter(this); }

    bool progressShown = false;
    double answeredAt = 0;
    double resultAt = 0;
    QString titleAtResult;
    QString resultText;

protected:
    bool eventFilter(QObject* object, QEvent* event) override {
        if (event->type() == QEvent::Show && qobject_cast<ProgressWindow*>(object)) progressShown = true;
        auto* box = event->type() == QEvent::Show ? qobject_cast<QMessageBox*>(object) : nullptr;
        if (!box) return false;
        QAbstractButton* answer = box->defaultButton();
        const bool question = box->buttons().size() == 2;
        if (!question) {
            resultAt = Now();
            titleAtResult = window_.windowTitle();
            resultText = box->text();
        }
        // Clicked from the box's own event loop, once it runs.
        QTimer::singleShot(0, answer, [this, answer, question] {
            if (question) {
                answeredAt = Now();
                g_startProgressAtOnce = progressAtOnce_;
            }
            answer->click();
        });
        return false;
    }

private:
    QWidget& window_;
    bool progressAtOnce_;
};

enum class Progress { AsUsual, AtOnce };

// Drops the folder on a new window whose settings move (mode 0) or copy its
// files into destination; returns the seconds from "はい(&Y)" to the result box.
double DropOnWindow(const std::string& folder, const std::string& destination, int32_t mode = 0,
                    Progress progress = Progress::AsUsual) {
    const std::string programDir = destination + "-program/";
    fsys::create_directories(programDir);
    CDropDlg dlg(programDir, CDropDlg::CurrentTimeSecondsClock(), RefreshClock);
    dlg.settings() = BenchSettings(destination, mode);
    DropWindow window(dlg, QString());
    window.show();
    BoxAnswerer answerer(window, progress == Progress::AtOnce);

    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString(folder))});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&window, &enter);
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&window, &drop);
    if (!drop.isAccepted()) Fail("the window refused the drop");
    while (window.BatchRunning()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);

    const int count = static_cast<int>(ListNames(destination).size());
    const QString counts = QString::number(count);
    if (answerer.titleAtResult != QStringLiteral("Tessarbolink  ") + counts + " 0 " + counts)
        Fail("the title at the result box was " + answerer.titleAtResult.toStdString());
    if (progress == Progress::AtOnce && !answerer.progressShown) Fail("the progress window did not show");
    window.close();
    fsys::remove_all(programDir);
    return answerer.resultAt - answerer.answeredAt;
}

int RunMemoryChild(const std::string& folder) {
    fsys::create_directories(folder + "-out");
    DropOnWindow(folder, folder + "-out");
    std::printf("%ld\n", PeakResidentKiB());
    return 0;
}

std::vector<int> CountsOf(const std::string& list) {
    std::vector<int> counts;
    size_t from = 0;
    while (from <= list.size()) {
        const size_t comma = list.find(',', from);
        counts.push_back(std::stoi(list.substr(from, comma - from)));
        if (comma == std::string::npos) break;
        from = comma + 1;
    }
    return counts;
}

Options ParseOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string flag = argv[i];
        if (i + 1 >= argc) Fail("missing value after " + flag);
        const std::string value = argv[++i];
        if (flag == "--files") options.files = CountsOf(value);
        else if (flag == "--memory-files") options.memoryFiles = std::stoi(value);
        else if (flag == "--large-files") options.largeFiles = std::stoi(value);
        else if (flag == "--large-size") options.largeSize = std::stol(value);
        else if (flag == "--rounds") options.rounds = std::max(1, std::stoi(value));
        else if (flag == "--dir") options.dir = value;
        else if (flag == "--memory-child") options.memoryChild = value;
        else Fail("unknown option " + flag);
    }
    return options;
}

}  // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    Options options = ParseOptions(argc, argv);
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);
    if (!options.memoryChild.empty()) return RunMemoryChild(options.memoryChild);

    const bool ownFolder = options.dir.empty();
    options.dir = WorkFolder(options.dir);
    std::vector<Comparison> rows;
    for (const int count : options.files) {
        rows.push_back(CompareOnFreshFiles(
            options.dir, "window" + std::to_string(count), options.rounds, count, 100,
            [](const std::string& in, const std::string& out) { return DropOnWindow(in, out); },
            [](const std::string& in, const std::string& out) {
                return SecondsOf([&] { RunBatchOn(in, out, 0, out); });
            }));
    }
    const int progressFiles = options.files.front();
    const Comparison progress = CompareOnFreshFiles(
        options.dir, "progress", options.rounds, progressFiles, 100,
        [](const std::string& in, const std::string& out) { return DropOnWindow(in, out, 0, Progress::AtOnce); },
        [](const std::string& in, const std::string& out) { return DropOnWindow(in, out); });
    const Comparison large = CompareOnFreshFiles(
        options.dir, "large", options.rounds, options.largeFiles, options.largeSize,
        [](const std::string& in, const std::string& out) { return DropOnWindow(in, out, 1, Progress::AtOnce); },
        [](const std::string& in, const std::string& out) { return DropOnWindow(in, out, 1); });
    const long peakKiB = MeasureMemoryInChild(argv[0], options.dir, options.memoryFiles);
    if (ownFolder) fsys::remove_all(options.dir);

    std::printf("Qt platform: %s\n", qPrintable(QGuiApplication::platformName()));
    std::printf("%-38s %9s %9s %7s  %s\n", "case", "window s", "batch s", "ratio", "target");
    for (size_t i = 0; i < rows.size(); ++i) {
        char label[64];
        std::snprintf(label, sizeof label, "move, %d files dropped on the window", options.files[i]);
        const double ratio = rows[i].batch / rows[i].other;
        std::printf("%-38s %9.3f %9.3f %7.2f  <= 1.2  %s\n", label, rows[i].batch, rows[i].other, ratio,
                    ratio <= 1.2 ? "ok" : "MISSED");
    }
    const auto printRow = [](const char* label, const Comparison& row, double target) {
        const double ratio = row.batch / row.other;
        std::printf("%-38s %9.3f %9.3f %7.2f  <= %.2f  %s\n", label, row.batch, row.other, ratio, target,
                    ratio <= target ? "ok" : "MISSED");
    };
    char label[80];
    std::printf("%-38s %9s %9s   (the progress window)\n", "", "with s", "without s");
    std::snprintf(label, sizeof label, "move of %d files", progressFiles);
    printRow(label, progress, 1.05);
    std::snprintf(label, sizeof label, "copy of %d files of %ld MiB", options.largeFiles, options.largeSize >> 20);
    printRow(label, large, 1.05);
    const double peakMiB = peakKiB / 1024.0;
    std::printf("peak memory, window and batch of %d files: %.1f MiB  (< 100 MiB)  %s\n", options.memoryFiles,
                peakMiB, peakMiB < 100 ? "ok" : "MISSED");
    return 0;
}
