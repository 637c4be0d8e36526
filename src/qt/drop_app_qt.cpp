#include "qt/drop_app_qt.h"

#include <cstdio>
#include <cstdlib>

#include <QApplication>
#include <QLibraryInfo>
#include <QTranslator>
#include <QtGlobal>

#include "qt/help_qt.h"
#include "fs/fs.h"
#include "ui/drop_dialog.h"
#include "qt/drop_window_qt.h"
#include "qt/message_box_qt.h"
#include "qt/text_qt.h"

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

}  // namespace

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
    if (NoDisplayInSight()) ExitWithoutDisplay();
    previousHandler = qInstallMessageHandler(StartupMessageHandler);
    QApplication app(argc, argv);
    qInstallMessageHandler(previousHandler);
    app.setQuitOnLastWindowClosed(false);
    app.setWindowIcon(ApplicationIcon());
    InstallJapaneseQtTexts(app);

    const ByteString programDir = ProgramDir();
    if (programDir.empty()) {
        // The settings and logs live beside the program; without a name for
        // that folder they would land wherever the program was started from.
        RunMessageBox(nullptr,
                      QtText(u8"プログラムのフォルダ名にシフトJISで表せない文字が含まれているため、起動できません。"),
                      QtText(CDropDlg::ProgramName()), MessageButtons::Ok, MessageIcon::Stop);
        return 1;
    }
    CDropDlg dlg(programDir);
    DropWindow window(dlg, FindUserGuide(QtText(programDir)));
    QObject::connect(&window, &DropWindow::finishedAndSaved, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    window.show();
    app.exec();
    return 0;
}
