#pragma once
// The application object: starts the process's only dialog and ends the
// process when it closes.
#include <windows.h>

#include "text/byte_string.h"

class CDropApp {
public:
    explicit CDropApp(HINSTANCE instance) : instance_(instance) {}

    // Runs the main dialog modally (loading the settings first; they are
    // saved while the window is destroyed).  Returns false: no message loop
    // follows, the process ends.
    bool InitInstance();

private:
    void RunMainDialog(const ByteString& programDir);

    HINSTANCE instance_;
};
