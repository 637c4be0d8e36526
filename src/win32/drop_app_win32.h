#pragma once
// The application object: starts the process's only dialog and ends the
// process when it closes.
#include <windows.h>

#include <string>
#include <vector>

#include "batch/batch_run.h"
#include "text/byte_string.h"

// The files and folders named on a command line (GetCommandLineW), in order,
// as a drop of them would deliver them: every argument after the program's
// name is a path (the program has no options), made whole as Windows makes a
// path whole (a relative one is taken from the current folder), without a
// trailing separator except a root's.  An empty argument names no file and
// is left out.
std::vector<DroppedPath> CommandLinePaths(const wchar_t* commandLine);
// The same paths made whole, before they are converted.
std::vector<std::wstring> CommandLineFiles(const wchar_t* commandLine);

class CDropApp {
public:
    explicit CDropApp(HINSTANCE instance) : instance_(instance) {}

    // Runs the main dialog modally (loading the settings first; they are
    // saved while the window is destroyed), handing it the files of the
    // command line.  Returns false: no message loop follows, the process ends.
    bool InitInstance();

private:
    void RunMainDialog(const ByteString& dataFolder, const std::vector<std::wstring>& startFiles);

    HINSTANCE instance_;
};
