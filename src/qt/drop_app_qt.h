#pragma once
// The application: starts Qt, runs the main dialog until it closes (its
// settings saved) and ends the process.

class QCoreApplication;
class QTranslator;

// Qt's own texts (the folder chooser's buttons, the fields' context menus) in
// Japanese like everything else in the window.  Returns the installed
// translator, owned by app, or nullptr when Qt's Japanese translation is not
// installed (those texts then stay in English).
QTranslator* InstallJapaneseQtTexts(QCoreApplication& app);

class CDropApp {
public:
    // The process's exit code: 0 after the dialog closed, 1 when no display
    // could be opened (with a message on standard error).
    int Run(int argc, char** argv);
};
