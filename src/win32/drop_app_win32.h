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
// name is a path (options are read only with a console), made whole as Windows makes a
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
    // command line.  Started from a console with options (ui/command_line.h),
    // answers them there instead where they ask for no window.  Returns
    // false: no message loop follows, the process ends.
    bool InitInstance();

    // The process's exit status: 0, 2 after a refused option, 1 when the
    // console could not be written.
    int ExitCode() const { return exitCode_; }

private:
    // True when the options were answered and no window is to run;
    // otherwise fills startFiles.
    bool AnswerOptions(std::vector<std::wstring>& startFiles);
    void RunMainDialog(const ByteString& dataFolder, const std::vector<std::wstring>& startFiles);

    HINSTANCE instance_;
    int exitCode_ = 0;
};
