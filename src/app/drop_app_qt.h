#pragma once
// The application: starts Qt, runs the main dialog until it closes (its
// settings saved) and ends the process.

class CDropApp {
public:
    // The process's exit code: 0 after the dialog closed, 1 when no display
    // could be opened (with a message on standard error).
    int Run(int argc, char** argv);
};
