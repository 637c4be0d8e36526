#include "qt/drop_app_qt.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QLibraryInfo>
#include <QSocketNotifier>
#include <QTranslator>
#include <QtGlobal>

#include "qt/help_qt.h"
#include "qt/launcher_entry_qt.h"
#include "fs/documents_folder.h"
#include "fs/fs.h"
#include "ui/command_line.h"
#include "ui/drop_dialog.h"
#include "qt/drop_window_qt.h"
#include "qt/message_box_qt.h"
#include "qt/text_qt.h"
#include "qt/window_handoff_qt.h"
#include "ui/start_texts.h"

namespace {

constexpr const char* kNoDisplayMessage =
    "tessarbolink: no display could be opened.\n"
    "Tessarbolink is a desktop program: start it in a graphical session "
    "(X11 or Wayland, with DISPLAY or WAYLAND_DISPLAY set).\n";

[[noreturn]] void ExitWithoutDisplay() {
    std::fputs(kNoDisplayMessage, stderr);
    std::fflush(stderr);
    std::_Exit(1);
}

bool NoDisplayInSight() {
    return qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
           qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
}

// While QApplication starts, a fatal message means its display could not be
// reached: say so plainly instead of aborting with a core dump.
QtMessageHandler previousHandler = nullptr;

void StartupMessageHandler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type == QtFatalMsg) ExitWithoutDisplay();
    if (previousHandler) previousHandler(type, context, message);
}

// A request to end the process arrives as a signal; its handler only writes a
// byte to this pipe, which the event loop reads (-1: no handler installed).
int endRequestPipe[2] = {-1, -1};

void OnEndRequest(int) {
    const char byte = 1;
    (void)!write(endRequestPipe[1], &byte, 1);
}

// Installed before anything else: a request that comes while the program
// starts is answered once its window is up.
void CatchEndRequests() {
    if (pipe2(endRequestPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        endRequestPipe[0] = endRequestPipe[1] = -1;
        return;
    }
    struct sigaction action {};
    action.sa_handler = OnEndRequest;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) sigaction(signal, &action, nullptr);
}

// The folder the program was started in, as the system gives it.
std::string CurrentFolderBytes() {
    std::string folder(4096, '\0');
    while (!getcwd(folder.data(), folder.size())) {
        if (errno != ERANGE) return std::string();
        folder.resize(folder.size() * 2);
    }
    folder.resize(std::strlen(folder.c_str()));
    return folder;
}

// Also on standard error, for a start from a terminal.
void SayDataFolderRefused(const DataFolderChoice& data) {
    const QString text = QtText(DataFolderRefusedMessage(data));
    std::fprintf(stderr, "tessarbolink: %s\n", text.toUtf8().constData());
    std::fflush(stderr);
    RunMessageBox(nullptr, text, QtText(CDropDlg::ProgramName()), MessageButtons::Ok, MessageIcon::Stop);
}

// Writes a text of the command line's and gives the exit status: 0, or 1 when
// it could not be written.
int Print(std::string_view text, std::FILE* stream, int status) {
    const bool written = std::fwrite(text.data(), 1, text.size(), stream) == text.size();
    return std::fflush(stream) == 0 && written ? status : 1;
}

}  // namespace

std::vector<DroppedPath> CommandLinePaths(const QStringList& arguments, const QString& currentFolder) {
    std::vector<DroppedPath> paths;
    for (const QString& argument : arguments) {
        if (argument.isEmpty()) continue;
        const QString path = argument.startsWith(u'/') ? argument : currentFolder + u'/' + argument;
        QStringList parts = path.split(u'/', Qt::SkipEmptyParts);
        parts.removeAll(QStringLiteral("."));
        paths.push_back(DroppedPathOf(u'/' + parts.join(u'/')));
    }
    return paths;
}

QTranslator* InstallJapaneseQtTexts(QCoreApplication& app) {
    auto* translator = new QTranslator(&app);
    if (!translator->load(QStringLiteral("qtbase_ja"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return nullptr;
    }
    app.installTranslator(translator);
    return translator;
}

int CDropApp::Run(int argc, char** argv) {
    // The options come first: --help and --version need no display.  The
    // arguments are read before Qt starts, and Qt is given none of them, so
    // that no file is ever taken for one of its options (-style, ...).
    QStringList given;
    std::vector<std::u16string> forOptions;
    for (int i = 1; i < argc; ++i) {
        given << QFile::decodeName(argv[i]);
        forOptions.push_back(given.back().toStdU16String());
    }
    const CommandLine line = ReadCommandLine(forOptions);
    switch (line.request) {
    case StartRequest::Help: return Print(UsageText(), stdout, 0);
    case StartRequest::Version: return Print(VersionText(), stdout, 0);
    case StartRequest::RefusedOption:
        Print(RefusedOptionText(argv[line.refused + 1]), stderr, 0);
        return kRefusedOptionStatus;
    case StartRequest::Window: break;
    }
    QStringList arguments;
    for (const size_t file : line.files) arguments << given[static_cast<qsizetype>(file)];

    CatchEndRequests();
    if (NoDisplayInSight()) ExitWithoutDisplay();
    const QString currentFolder = QDir::currentPath();

    // The settings and logs live beside the program, or in the user's data
    // folder where the program's folder cannot be written.  A window already
    // open for that folder takes the files instead of a second window.
    const DataFolderChoice data = ChooseDataFolder(ProgramDir());
    WindowClaim claim;
    if (!data.folder.empty() && data.fault == DataFolderFault::None) {
        // The files as they came, without the options.
        std::vector<std::string> files;
        for (const size_t file : line.files) files.emplace_back(argv[file + 1]);
        claim = ClaimWindow(data.folder, files, CurrentFolderBytes());
        if (claim.handedOver) return 0;
    }

    int qtArgc = 1;
    char* qtArgv[] = {argv[0], nullptr};

    previousHandler = qInstallMessageHandler(StartupMessageHandler);
    QApplication app(qtArgc, qtArgv);
    qInstallMessageHandler(previousHandler);
    app.setQuitOnLastWindowClosed(false);
    app.setWindowIcon(ApplicationIcon());
    // The desktop matches the window to its launcher entry by this name.
    QGuiApplication::setDesktopFileName(QString::fromLatin1(kDesktopEntryName));
    InstallJapaneseQtTexts(app);

    if (data.fault != DataFolderFault::None) {
        SayDataFolderRefused(data);
        return 1;
    }
    const ByteString& dataFolder = data.folder;
    if (dataFolder.empty()) {
        // Without a name for either folder they would land wherever the
        // program was started from.
        RunMessageBox(nullptr,
                      QtText(u8"プログラムのフォルダ名にシフトJISで表せない文字が含まれているため、起動できません。"),
                      QtText(CDropDlg::ProgramName()), MessageButtons::Ok, MessageIcon::Stop);
        return 1;
    }
    CDropDlg dlg(dataFolder, DefaultDestinationFor(ProgramDir(), dataFolder));
    // The guide is found beside the program's real file, also when it was
    // started through a link.
    RunMainWindow(dlg, FindUserGuide(QCoreApplication::applicationDirPath()),
                  CommandLinePaths(arguments, currentFolder), claim.laterStarts.get());
    claim.laterStarts.reset();  // its notifiers go while Qt is still there
    return 0;
}

void CDropApp::RunMainWindow(CDropDlg& dlg, const QString& userGuide, std::vector<DroppedPath> startPaths,
                             LaterStarts* laterStarts) {
    DropWindow window(dlg, userGuide);
    QEventLoop loop;
    QObject::connect(&window, &DropWindow::finishedAndSaved, &loop, &QEventLoop::quit, Qt::QueuedConnection);
    std::unique_ptr<QSocketNotifier> endRequests;
    if (endRequestPipe[0] >= 0) {
        endRequests = std::make_unique<QSocketNotifier>(endRequestPipe[0], QSocketNotifier::Read);
        QObject::connect(endRequests.get(), &QSocketNotifier::activated, &window, [&window] {
            char bytes[16];
            while (read(endRequestPipe[0], bytes, sizeof bytes) > 0) {
            }
            window.CloseWhenIdle();
        });
    }
    window.show();
    if (!startPaths.empty()) window.DropPaths(std::move(startPaths));
    if (laterStarts) {
        laterStarts->Start([&window](const QStringList& arguments, const QString& currentFolder) {
            return window.HandOver(CommandLinePaths(arguments, currentFolder));
        });
    }
    loop.exec();
}
