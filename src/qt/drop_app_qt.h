#pragma once
// The application: starts Qt, runs the main dialog until it closes (its
// settings saved) and ends the process.
#include <vector>

#include <QString>
#include <QStringList>

#include "batch/batch_run.h"

class CDropDlg;
class LaterStarts;
class QCoreApplication;
class QTranslator;

// Qt's own texts (the folder chooser's buttons, the fields' context menus) in
// Japanese like everything else in the window.  Returns the installed
// translator, owned by app, or nullptr when Qt's Japanese translation is not
// installed (those texts then stay in English).
QTranslator* InstallJapaneseQtTexts(QCoreApplication& app);

// The files and folders named on the command line, in order, as a drop of
// them would deliver them.  arguments are those that name files, the options
// and "--" taken out (ui/command_line.h); a relative one is taken from
// currentFolder.  "." components and
// doubled or trailing slashes are dropped, since they never change the file
// meant; ".." is left for the system to resolve, through links as it does.
// An empty argument names no file and is left out.
std::vector<DroppedPath> CommandLinePaths(const QStringList& arguments, const QString& currentFolder);

class CDropApp {
public:
    // The process's exit code: 0 after the dialog closed, 1 when no display
    // could be opened (with a message on standard error).  --help and
    // --version print on standard output and give 0, a refused option prints
    // on standard error and gives 2, all three without a display.
    int Run(int argc, char** argv);

    // With the application object running: shows the main window over dlg
    // (F1 opens userGuide), hands it startPaths as a drop once it is shown,
    // and returns when it has closed and saved its settings.  A request to
    // end the process (SIGTERM, SIGINT, SIGHUP) closes the window as its
    // close box does, after a running batch.  laterStarts, when given, brings
    // the files of later starts for the same data folder to the window.
    static void RunMainWindow(CDropDlg& dlg, const QString& userGuide, std::vector<DroppedPath> startPaths,
                              LaterStarts* laterStarts = nullptr);
};
